#include "Scanners.h"

#include "Deletion.h"
#include "Handle.h"
#include "LaunchAndWait.h"
#include "Launch.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"
#include "TimeBudget.h"
#include "ServerUnregistration.h"
#include "SuiteFolders.h"
#include "Unregister.h"
#include "UprooterStrings.h"
#include "Wow64.h"

#include <optional>

namespace {

namespace removal = win::removal;

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor";
constexpr wchar_t kCoreScriptScannerKey[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE\\Script Scanner";
constexpr wchar_t kMailExtensionsKey[] = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr wchar_t kMailSetupExtension[] = L"4.0;Outxxx.dll;7;000000000000000;0000000000;OutXXX";
constexpr DWORD kScannerOff = 2;
constexpr DWORD kScannerStopMs = 3000;

// A key in the former company's form and in the suite's own.
struct KeyForms {
    const wchar_t* oldPath;
    const wchar_t* newPath;
};
constexpr KeyForms kEmailScanKey = {
    L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components\\On Demand Scanner\\Exchange Scan",
    L"SOFTWARE\\Zelmar\\QLCore\\Email Scanner\\Outlook"};
constexpr KeyForms kScriptScanKey = {
    L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components\\On Access Scanner\\ScriptScan",
    L"SOFTWARE\\Zelmar\\QLCore\\Script Scanner"};

// A scanner's keys below a parent of either form: the old form's one subkey,
// or the new form's subkeys and then the tree that held them.
struct ScannerKeys {
    const wchar_t* oldParent;
    const wchar_t* oldSubkey;
    const wchar_t* newParent;
    const wchar_t* newSubkeys[3];  // up to the first null
    const wchar_t* newTree;        // null: none
    bool reportNeither;            // log when neither parent opens
};
constexpr ScannerKeys kEmailOnAccessKeys = {
    L"Software\\Ostrand Labs\\KRX\\Shared Components\\On Access Scanner\\Sentrel",
    L"E-Mail Scan",
    L"Software\\Zelmar\\QLCore",
    {L"EMail Scanner\\Outlook\\OnDelivery", L"EMail Scanner\\Outlook\\OnDeliveryDetectionOptions",
     L"EMail Scanner\\Outlook\\OnDeliveryGeneralOptions"},
    L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner",
    true};
constexpr ScannerKeys kEmailOnDemandKeys = {
    L"Software\\Ostrand Labs\\KRX\\Shared Components\\On Demand Scanner",
    L"Exchange Scan",
    L"Software\\Zelmar\\QLCore",
    {L"EMail Scanner\\Outlook\\OnDemand", L"EMail Scanner\\Outlook\\OnDemandDetectionOptions", nullptr},
    L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner",
    true};
constexpr ScannerKeys kScriptScanKeys = {
    L"Software\\Ostrand Labs\\KRX\\Shared Components\\On Access Scanner",
    L"ScriptScan",
    L"Software\\Zelmar\\QLCore",
    {L"Script Scanner", nullptr, nullptr},
    nullptr,
    false};

// A script scanner library named in the suite's settings, the subfolder it
// lies in and how it is unregistered.
struct ScriptScannerLibrary {
    const wchar_t* value;
    const wchar_t* subfolder;
    bool throughRegistrationServer;  // the 64-bit registration server; else in-process
};
constexpr ScriptScannerLibrary kScriptScanner32 = {L"szScriptScanDLL", L"\\Qengine\\", false};
constexpr ScriptScannerLibrary kScriptScanner64 = {L"szScriptScan64", L"\\Qengine64\\", true};

// The newer core's script scanner for one bitness.
struct CoreScriptScanner {
    const wchar_t* binary;
    const wchar_t* folder;
};
constexpr CoreScriptScanner kCoreScanner64 = {L"szBinary64", L"szInstallDir64"};
constexpr CoreScriptScanner kCoreScanner32 = {L"szBinary32", L"szInstallDir32"};

// The new form of a scanner key opens inside the registry transaction when
// one is in use and Advapi32 has the transacted open; plainly otherwise.
LONG OpenNewForm(const wchar_t* path, REGSAM access, HANDLE transaction, win::Key& out)
{
    using TransactedOpen = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY, HANDLE, PVOID);
    HMODULE advapi = transaction ? GetModuleHandleW(L"advapi32.dll") : nullptr;
    auto open = advapi ? reinterpret_cast<TransactedOpen>(GetProcAddress(advapi, "RegOpenKeyTransactedW")) : nullptr;
    if (open == nullptr) return win::OpenKey(HKEY_LOCAL_MACHINE, path, access, win::RegView::Native, out);
    HKEY raw = nullptr;
    const LONG rc = open(HKEY_LOCAL_MACHINE, path, 0, access, &raw, transaction, nullptr);
    out.reset(rc == ERROR_SUCCESS ? raw : nullptr);
    return rc;
}

LONG OpenOld(const wchar_t* path, win::Key& out)
{
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, out);
}

void SwitchOff(const KeyForms& forms)
{
    win::Key key;
    if (OpenOld(forms.oldPath, key) != ERROR_SUCCESS &&
        OpenNewForm(forms.newPath, KEY_ALL_ACCESS, nullptr, key) != ERROR_SUCCESS)
        return;
    win::WriteDword(key.get(), L"OpState", kScannerOff);
}

void DeleteSubkey(const wchar_t* parent, const wchar_t* subkey, CLogFile& log)
{
    log.Log(L"uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\%s\\%s", parent, subkey);
    removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, std::wstring(parent) + L"\\" + subkey, win::RegView::Native);
}

void RemoveScannerKeys(const ScannerKeys& keys, HANDLE transaction, CLogFile& log)
{
    log.Log(L"uprooter.Exe, Trying to open HKEY_LOCAL_MACHINE\\%s", keys.oldParent);
    win::Key parent;
    if (OpenOld(keys.oldParent, parent) == ERROR_SUCCESS) {
        parent.reset();
        DeleteSubkey(keys.oldParent, keys.oldSubkey, log);
        return;
    }
    if (OpenNewForm(keys.newParent, KEY_ALL_ACCESS, transaction, parent) == ERROR_SUCCESS) {
        parent.reset();
        for (const wchar_t* subkey : keys.newSubkeys)
            if (subkey != nullptr) DeleteSubkey(keys.newParent, subkey, log);
        if (keys.newTree != nullptr) removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, keys.newTree, win::RegView::Native);
        return;
    }
    if (keys.reportNeither)
        log.Log(L"uprooter.Exe, could not open HKEY_LOCAL_MACHINE\\%s nor HKEY_LOCAL_MACHINE\\%s ", keys.oldParent,
                keys.newParent);
}

// A file name the suite's registry names inside one of its folders, read only
// when it is a bare name; any other is refused in the log.
bool ReadFileName(HKEY key, const wchar_t* value, std::wstring& name, CLogFile& log)
{
    if (key == nullptr || win::ReadString(key, value, name) != ERROR_SUCCESS) return false;
    if (win::IsBareFileName(name)) return true;
    log.Log(L"uprooter.Exe, refusing %s \"%s\": not a bare file name", value, name.c_str());
    return false;
}

void RemoveScriptScannerLibrary(HKEY settings, const ScriptScannerLibrary& library, const std::wstring& install,
                                CLogFile& log)
{
    std::wstring name;
    if (!ReadFileName(settings, library.value, name, log)) return;
    const std::wstring file = install + library.subfolder + name;
    log.Log(L"uprooter.Exe, Script Scanner file is %s", file.c_str());
    log.Log(L"uprooter.Exe, Restoring VBScript and JScript processor by unregistering: %s", file.c_str());
    if (library.throughRegistrationServer) UnregisterServerWow64(L"/s /u \"" + file + L"\"");
    else UnregisterServerInProcess(file.c_str());
    if (RemoveFile(file.c_str())) log.Log(L"uprooter.Exe, Deleted Script Scanner file %s", file.c_str());
    else log.Log(L"Unable to rename/delete file %s, added to pending list", file.c_str());
}

void UnregisterCoreScanner(HKEY key, const CoreScriptScanner& scanner, CLogFile& log)
{
    std::wstring binary, folder;
    if (!ReadFileName(key, scanner.binary, binary, log)) return;
    if (win::ReadString(key, scanner.folder, folder) != ERROR_SUCCESS) return;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    // The library becomes one quoted argument: a quote in the folder would
    // add arguments or libraries of its own.
    const win::launch::Judgement library = win::launch::Judge(folder + binary, SuiteFolders());
    if (!library.allowed()) {
        log.Log(L"uprooter.Exe, refusing %s \"%s\": %s", scanner.folder, folder.c_str(),
                win::launch::Reason(library.verdict));
        return;
    }
    const std::wstring arguments = L"/u /s \"" + folder + binary + L"\"";
    log.Log(L"uninstScriptScanner2 - launching %s%s", L"regsvr32.exe ", arguments.c_str());
    LaunchAndWait(win::launch::SystemFile(L"regsvr32.exe"), arguments.c_str(), log, 0);
}

void UnregisterMasked(const std::wstring& folder, const wchar_t* mask, CLogFile& log)
{
    log.Log(L"Checking for: %s\\%s", folder.c_str(), mask);
    if (win::FolderExists(folder)) miscHelper::unRegFileFromMask(folder.c_str(), mask, log);
}

// Calls found(path) for each name of the string-table list from first while
// below last; the list ends at an empty entry or "0".
template <class Found>
void ForEachListedFile(const std::wstring& folder, UINT first, UINT last, CLogFile& log, Found found)
{
    log.Log(L"base bath is: %s", folder.c_str());
    for (UINT id = first; id < last; ++id) {
        const std::wstring name = LoadLocalizedString(id);
        log.Log(L"Next file is: %s", name.c_str());
        if (name.empty() || name == L"0") return;
        const std::wstring path = folder + L"\\" + name;
        log.Log(L"Unregistering: %s", path.c_str());
        if (win::FileExists(path)) found(path);
    }
}

// Whether the file exists; with native, in the 64-bit system's own folders,
// which this 32-bit program sees only with redirection off.
bool ExistsIn(const std::wstring& path, bool native)
{
    std::optional<win::FsRedirectionOff> redirection;
    if (native) redirection.emplace();
    return win::FileExists(path);
}

// Deletes one intrusion-prevention file; what stays is left for the restart.
// Redirection is off around the deletion alone, never around a log line.
void RemoveIntrusionFile(const std::wstring& path, CLogFile& log, bool native = false)
{
    if (!ExistsIn(path, native)) return;
    log.Log(L"Deleting %s", path.c_str());
    bool removed = false;
    {
        std::optional<win::FsRedirectionOff> redirection;
        if (native) redirection.emplace();
        removed = RemoveFile(path.c_str()) || !win::FileExists(path);
    }
    if (!removed) log.Log(L"Unable to rename/delete file %s, added to pending list", path.c_str());
}

}  // namespace


void DisableScannerOperation()
{
    SwitchOff(kEmailScanKey);
    SwitchOff(kScriptScanKey);
    win::timing::Pause(kScannerStopMs);
}

void reloUni::RemoveOldScanners()
{
    DisableScannerOperation();
    const std::wstring engine =
        installFolder_ + (IsWow64() ? L"\\Qengine64\\" : L"\\Qengine\\") + kScannerNames.oldEngineLibrary;
    if (!win::FileExists(engine)) return;
    log_.Log(L"Uninstall Pre-QLCORE 14.2 Email and Script scanners");
    uninstEmailScanner();
    RemoveScriptScannerFiles(*this);
}

void reloUni::uninstEmailScanner()
{
    log_.Log(L"uprooter.Exe, Inside uninstEmailScanner()");
    win::Key key;
    if (OpenOld(kMailExtensionsKey, key) == ERROR_SUCCESS) {
        removal::RemoveValue(HKEY_LOCAL_MACHINE, kMailExtensionsKey, win::RegView::Native, L"Exchange Scan");
        win::WriteString(key.get(), L"Outlook Setup Extension", kMailSetupExtension);
        key.reset();
    }
    if (OpenOld(kSettingsKey, key) == ERROR_SUCCESS) {
        std::wstring name;
        if (ReadFileName(key.get(), L"szOutlookDLL", name, log_)) {
            const std::wstring file = installFolder_ + L"\\Qengine\\" + name;
            log_.Log(L"uprooter.Exe, Email Scanner Library File %s", file.c_str());
            if (RemoveFile(file.c_str())) log_.Log(L"uprooter.Exe, Deleted Email Scanner file %s", file.c_str());
            else log_.Log(L"uprooter.Exe, could not delete - Email Scanner file marked for delete on reboot: %s", file.c_str());
        }
        removal::RemoveValue(HKEY_LOCAL_MACHINE, kSettingsKey, win::RegView::Native, L"szOutlookDLL");
        key.reset();
    }
    RemoveScannerKeys(kEmailOnAccessKeys, registryTransaction_, log_);
    RemoveScannerKeys(kEmailOnDemandKeys, registryTransaction_, log_);
}

void RemoveScriptScannerFiles(reloUni& uni)
{
    CLogFile& log = uni.Log();
    win::Key settings;
    OpenOld(kSettingsKey, settings);
    RemoveScriptScannerLibrary(settings.get(), kScriptScanner32, uni.InstallFolder(), log);
    if (IsWow64()) RemoveScriptScannerLibrary(settings.get(), kScriptScanner64, uni.InstallFolder(), log);
    if (settings) {
        settings.reset();
        removal::RemoveValue(HKEY_LOCAL_MACHINE, kSettingsKey, win::RegView::Native, L"szScriptScanDLL");
    }
    RemoveScannerKeys(kScriptScanKeys, uni.RegistryTransaction(), log);
}

void uninstScriptScanner2(reloUni& uni)
{
    LaunchLog step(uni.Log().Path());
    CLogFile& log = step.get();
    log.Log(L"Uninstalling script scannners by unregistering.");
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kCoreScriptScannerKey, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS) {
        log.Log(L"Could not open registry key! %s", kCoreScriptScannerKey);
        return;
    }
    log.Log(L"Opened key %s", kCoreScriptScannerKey);
    if (IsWow64()) UnregisterCoreScanner(key.get(), kCoreScanner64, log);
    UnregisterCoreScanner(key.get(), kCoreScanner32, log);
}

void UnregisterComponentFiles(reloUni& uni)
{
    CLogFile& log = uni.Log();
    const std::wstring agent = uni.InstallFolder() + L"\\Agent";
    const std::wstring engine = uni.InstallFolder() + L"\\Qengine";
    for (const wchar_t* mask : kScannerNames.agentMasks) UnregisterMasked(agent, mask, log);
    if (uni.AntiVirusFound()) UnregisterMasked(engine, kScannerNames.engineMask, log);
    UnregisterDllList(agent, IDS_AGENT_COM_LIBRARIES + 1, IDS_AGENT_COM_LIBRARIES_END, log);
    UnregisterDllList(engine, IDS_SCANNER_COM_LIBRARIES + 1, IDS_SCANNER_COM_LIBRARIES_END, log);
    UnregisterDllList(agent, IDS_OEM_COM_LIBRARIES + 1, IDS_OEM_COM_LIBRARIES_END, log);
    UnregisterExeList(agent, IDS_AGENT_LOCAL_SERVERS + 1, IDS_AGENT_LOCAL_SERVERS_END, log);
    if (IsWow64() && uni.AntiVirusFound())
        UnregisterMasked(uni.InstallFolder() + L"\\Qengine64", kScannerNames.engineMask, log);
}

void UnregisterDllList(const std::wstring& folder, UINT first, UINT last, CLogFile& log)
{
    ForEachListedFile(folder, first, last, log,
                      [](const std::wstring& path) { UnregisterServerInProcess(path.c_str()); });
}

void UnregisterExeList(const std::wstring& folder, UINT first, UINT last, CLogFile& log)
{
    LaunchLog step(log.Path());
    ForEachListedFile(folder, first, last, log, [&step](const std::wstring& path) {
        LaunchAndWait(path, L" /UnregServer", step.get(), 1);
    });
}

void RemoveIntrusionPreventionFiles(reloUni& uni)
{
    CLogFile& log = uni.Log();
    RemoveIntrusionFile(GetSpecialFolder(4) + kScannerNames.intrusionInterface, log);
    // The drivers of 64-bit Windows lie in its own system folder, which this
    // 32-bit program reaches only with redirection off. The removal layer's
    // judgement is made once before, so that the libraries it needs are
    // loaded from this program's own view.
    removal::ProtectedFolders();
    const std::wstring drivers = GetSpecialFolder(5);
    for (UINT id = IDS_DRIVER_FILES + 1; id < IDS_DRIVER_FILES_END; ++id) {
        const std::wstring name = LoadLocalizedString(id);
        if (name.empty() || name == L"0") break;
        RemoveIntrusionFile(drivers + L"\\" + name, log, true);
    }
}
