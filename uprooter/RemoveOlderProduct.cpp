#include "Components.h"
#include "DefenderRestore.h"
#include "Entry.h"
#include "FolderCleanup.h"
#include "LogFile.h"
#include "MUIHelper.h"
#include "Firewall.h"
#include "Registrations.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "Registry.h"
#include "Removal.h"
#include "Scanners.h"
#include "ScriptEngines.h"
#include "SuiteKeys.h"
#include "UprooterStrings.h"
#include "UserHives.h"
#include "reloUni.h"

#include <cwctype>
#include <string>

AdminRightsCheck g_AdminRightsCheck = HasAdminRights;

namespace {

constexpr wchar_t kProgramVersion[] = L"6.0.2.001";
constexpr wchar_t kPersonalFirewallKey[] = L"SOFTWARE\\Zelmar\\Personal Firewall";
constexpr wchar_t kUploadConfigurationKey[] =
    L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\SubSystems\\tvUpload\\Configuration";
constexpr size_t kDisplayNameChars = 512;   // 511 and the terminator
constexpr size_t kMessageChars = 1048;
constexpr UINT kBoxStyle = MB_OKCANCEL;
constexpr UINT kBoxStyleRightToLeft = MB_OKCANCEL | MB_RIGHT | MB_RTLREADING;

std::wstring ProductDisplayName(HINSTANCE instance)
{
    wchar_t name[kDisplayNameChars] = {};
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kAgentKey, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS)
        win::ReadStringInto(key.get(), L"szAppName", name, kDisplayNameChars);
    if (name[0] == L'\0') LoadStringW(instance, IDS_DEFAULT_PRODUCT_NAME, name, kDisplayNameChars);
    return name;
}

// Resource text formatted with the product's name, as the message boxes show it.
std::wstring Formatted(UINT identifier, const std::wstring& productName)
{
    std::wstring format = LoadLocalizedString(identifier);
    wchar_t text[kMessageChars] = {};
    _snwprintf(text, kMessageChars - 1, format.c_str(), productName.c_str());
    return text;
}

int AskUser(UINT textId, const std::wstring& productName)
{
    return MessageBoxW(nullptr, Formatted(textId, productName).c_str(),
                       Formatted(IDS_CLEANUP_CAPTION, productName).c_str(),
                       g_RightToLeft ? kBoxStyleRightToLeft : kBoxStyle);
}

void DecideRightToLeft(CLogFile& log)
{
    LangUtils::CMUIHelper helper;
    if (helper.IsRightToLeft(helper.GetEffectiveLanguageText())) g_RightToLeft = 1;
    SetRtlLanguage([&log](const wchar_t* line) { log.Log(L"%s", line); });
    if (g_RightToLeft) SetProcessDefaultLayout(LAYOUT_RTL);
}

// The suite's key trees go through the removal layer, which never follows a
// registry link below them; results are not checked.
void DeleteMachineKey(const wchar_t* path)
{
    win::removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, path, win::RegView::Native);
}

void MarkUploadUninstalling(CLogFile& log)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kUploadConfigurationKey, KEY_ALL_ACCESS, win::RegView::Native, key) !=
        ERROR_SUCCESS)
        return;
    win::WriteDword(key.get(), L"dwUninstalling", 1);
    log.Log(L"Set dwUnInstalling flag to 1");
}

void LogScriptEngineCheck(CLogFile& log, int result)
{
    if (result == kDeviationsNotFixed)
        log.Log(L"Deviations detected in VBScript and/or JavaScript registrations could not be fixed");
    else if (result == kDeviationsFixed)
        log.Log(L"Deviations detected in VBScript and/or JavaScript registrations were fixed successfully");
    else
        log.Log(L"No Deviations were detected in VBScript and/or JavaScript registrations");
}

void DecideRestart(bool suppressRestart, const std::wstring& productName, CLogFile& log)
{
    if (suppressRestart) {
        log.Log(L"Supressing Reboot as per Command Line");
        return;
    }
    if (g_ForceReboot) {
        RestartComputer();
        return;
    }
    if (!g_RebootNeeded) return;
    DeleteMachineKey(kManagedServicesKey);
    if (AskUser(IDS_REBOOT_QUESTION, productName) == IDOK) RestartComputer();
}

// One run-log line per step, each timed from the end of the one before.
class StepTimes {
public:
    explicit StepTimes(CLogFile& log) : log_(log) {}
    void Done(const wchar_t* step) { LogStepTime(log_, step, clock_.Lap()); }

private:
    CLogFile& log_;
    win::timing::Clock clock_;
};

}  // namespace

void reloUni::removeProduct()
{
    log_.Log(L"Uprooter.Exe, Version %s, \r\n In removeProduct()", kProgramVersion);
    win::timing::Clock whole;
    StepTimes times(log_);
    FindComponents();
    ExtendSearchPath();
    times.Done(L"component discovery");

    RemoveTarvoFirewall(*this);
    times.Done(L"RemoveTarvoFirewall");
    RemoveManagedFirewall(*this);
    times.Done(L"RemoveManagedFirewall");
    RemovePersonalFirewallPlus(*this);
    times.Done(L"RemovePersonalFirewallPlus");
    RestoreWindowsFirewall(*this);
    RemoveLegacyFirewallKeys();
    times.Done(L"RestoreWindowsFirewall");

    g_RebootNeeded = 1;
    MarkUploadUninstalling(log_);
    RestoreDefenderState();
    times.Done(L"RestoreDefenderState");

    RemoveBrowserProtectionRegistrations(*this);
    times.Done(L"RemoveBrowserProtectionRegistrations");
    RemoveOldScanners();
    times.Done(L"RemoveOldScanners");
    CloseTrayPrograms(*this);
    times.Done(L"CloseTrayPrograms");
    StopAgentServices(*this);
    times.Done(L"StopAgentServices");
    RunComponentUninstallers();
    times.Done(L"RunComponentUninstallers");
    UnregisterComponentFiles(*this);
    times.Done(L"UnregisterComponentFiles");
    UnregisterAgentFolder();
    times.Done(L"UnregisterAgentFolder");
    RemoveIntrusionPreventionFiles(*this);
    times.Done(L"RemoveIntrusionPreventionFiles");
    RemoveRegistrationLeftovers(*this);
    times.Done(L"RemoveRegistrationLeftovers");
    CleanMisDirectories();
    times.Done(L"CleanMisDirectories");
    RemoveProgramGroups(*this);
    times.Done(L"RemoveProgramGroups");
    log_.Log(L"Restoring path variable: %s", savedSearchPath_.c_str());
    if (!savedSearchPath_.empty()) SetEnvironmentVariableW(L"PATH", savedSearchPath_.c_str());

    RemoveStartupEntries(*this);
    times.Done(L"RemoveStartupEntries");
    DeleteMachineKey(kManagedServicesKey);
    DeleteMachineKey(kPersonalFirewallKey);
    // Below "SOFTWARE\\Zelmar" of every user's hive.
    DeleteKeyFromAllUsers(L"ManagedServices");
    DeleteKeyFromAllUsers(L"QLCore");
    times.Done(L"the suite's keys");
    LogStepTime(log_, L"removeProduct", whole.Lap());
}

int RemoveOlderProduct(HINSTANCE instance) { return RemoveOlderProduct(instance, GetCommandLineW()); }

int RemoveOlderProduct(HINSTANCE instance, const wchar_t* commandLine)
{
    std::wstring lowered = commandLine ? commandLine : L"";
    for (auto& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
    bool suppressRestart = lowered.find(L"/supressreboot") != std::wstring::npos;

    std::wstring productName = ProductDisplayName(instance);
    DecideRightToLeft(RunLog());
    if (!g_AdminRightsCheck()) {
        MessageBoxW(nullptr, Formatted(IDS_NOT_ADMINISTRATOR, productName).c_str(),
                    Formatted(IDS_CLEANUP_CAPTION, productName).c_str(),
                    g_RightToLeft ? kBoxStyleRightToLeft : kBoxStyle);
        return 1;
    }
    g_RebootNeeded = 0;
    g_ForceReboot = 0;

    reloUni uni;
    if (!uni.logdataClobber(commandLine)) return 0;
    // A run ended before the mark goes is taken up by the next one, even once
    // the agent's program or the suite's main key is gone.
    MarkOlderRemovalUnfinished();
    std::wstring menuSubfolder, menuLink;
    if (ReadMarkedMenuEntry(menuSubfolder, menuLink)) uni.RememberMenuEntry(menuSubfolder, menuLink);
    uni.removeProduct();

    CLogFile log;
    log.Open();
    win::timing::Clock repair;
    CRestoreScriptEngines engines([&log](const wchar_t* line) { log.Log(L"%s", line); });
    LogScriptEngineCheck(log, engines.CheckAndRestoreScriptEngines());
    LogStepTime(log, L"CheckAndRestoreScriptEngines", repair.Lap());
    ClearOlderRemovalMark();
    DecideRestart(suppressRestart, productName, log);
    return 0;
}
