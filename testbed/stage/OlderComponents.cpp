// The older suite's running and registered components, as docs/configuration.md
// ("Older suite as laid by the testbed") names them: its services, its tray
// and console programs running with their windows, its own uninstallers and
// tools, the e-mail and script scanners with their keys in both forms, its COM
// server modules and local servers, and the intrusion-prevention files. The
// programs are the testbed's stand-ins copied under the suite's names.
#include "Footprint.h"

namespace stage {

namespace {

using win::RegView;

constexpr wchar_t kOldScanners[] = L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components";
constexpr wchar_t kMailExtensions[] = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
// The running stand-ins outlive a whole removal run, then end by themselves.
constexpr wchar_t kLifeMs[] = L"900000";

std::wstring Record(const OlderSources& sources, const std::wstring& name)
{
    return sources.records.empty() ? L"" : sources.records + L"\\" + name;
}
// The 64-bit anti-virus subfolder on 64-bit Windows, the 32-bit one otherwise.
std::wstring NativeEngine() { return OlderInstallFolder() + (IsWindows64() ? L"\\Qengine64" : L"\\Qengine"); }

ValueItem SuiteValue(const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    return {{HKEY_LOCAL_MACHINE, path, On(RegView::Bit32)}, name, REG_SZ, text, 0};
}

// The services the removal stops run (the agent's two and the core service
// the agent runs on); the core's filter service is registered and stopped,
// since the removal only deletes it.
void AddServices(Footprint& suite, const OlderSources& sources)
{
    struct Service {
        const wchar_t* name;
        std::wstring folder;
        bool running;
    };
    const std::wstring agent = OlderInstallFolder() + L"\\Agent", core = CommonFiles32() + L"\\Zelmar\\Core";
    for (const Service& service : {Service{L"ZlAgentService", agent, true}, Service{L"ZlAgentWorker", agent, true},
                                   Service{L"ZlSysCore", core, true}, Service{L"ZlSysCoreFilter", core, false}}) {
        const std::wstring program = service.folder + L"\\" + service.name + L".exe";
        suite.files.push_back({program, sources.serviceProgram, ""});
        suite.services.push_back({service.name, program, service.running});
    }
}

// The tray program answers " /CloseAll" (its own exit code 42); the six
// console programs answer WM_CLOSE with their own exit codes, but for one
// that ignores it and must be ended.
void AddPrograms(Footprint& suite, const OlderSources& sources)
{
    const std::wstring tray = OlderInstallFolder() + L"\\DesktopUI\\ZTray.exe";
    suite.files.push_back({tray, sources.componentProgram, ""});
    suite.programs.push_back(
        {tray,
         {{L"ZL_COMPONENT_WINDOW", L"1"}, {L"ZL_COMPONENT_LIFE_MS", kLifeMs}, {L"ZL_COMPONENT_RECORD", Record(sources, L"components.txt")}},
         L"ZL_COMPONENT_READY"});

    struct Console {
        const wchar_t* relative;
        const wchar_t* exitCode;  // null: ignores WM_CLOSE
    };
    for (const Console& console : {Console{L"\\Agent\\tvUpdate.exe", L"21"}, Console{L"\\Agent\\tvConsole.exe", L"22"},
                                   Console{L"\\Qengine\\QlScanUI.exe", L"23"}, Console{L"\\Qengine\\QlQuarantine.exe", nullptr},
                                   Console{L"\\Agent\\tvAlert.exe", L"25"}, Console{L"\\DesktopUI\\ZlNotify.exe", L"26"}}) {
        const std::wstring path = OlderInstallFolder() + console.relative;
        suite.files.push_back({path, sources.windowedProgram, ""});
        const std::wstring image = path.substr(path.rfind(L'\\') + 1);
        ProgramItem program{
            path, {{L"ZL_WINDOWED_LIFE_MS", kLifeMs}, {L"ZL_WINDOWED_RECORD", Record(sources, image + L".txt")}},
            L"ZL_WINDOWED_READY"};
        if (console.exitCode) program.environment.push_back({L"ZL_WINDOWED_EXIT", console.exitCode});
        else program.environment.push_back({L"ZL_WINDOWED_IGNORE", L"1"});
        suite.programs.push_back(program);
    }
}

// The old filter driver tool, the driver installer and the core's anti-virus
// uninstaller in its install cache (found through "CommonFilesDir").
void AddUninstallers(Footprint& suite, const OlderSources& sources)
{
    for (const std::wstring& program : {OlderInstallFolder() + L"\\Qengine\\olaavfin.exe", NativeEngine() + L"\\zlmhidin.exe",
                                        CommonFiles32() + L"\\Zelmar\\AGSSYSCORE\\zlmhidin.exe"})
        suite.files.push_back({program, sources.componentProgram, ""});
}

// The scanner engine library of cores before 14.2 and the scanners it brings:
// the e-mail scanner hooked into the mail client, the script scanner libraries
// the settings name, and their keys, the on-access e-mail and the script scan
// keys in the former company's form, the on-demand e-mail keys in the suite's.
void AddScanners(Footprint& suite, const OlderSources& sources)
{
    const std::wstring settings = L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor";
    suite.files.push_back({NativeEngine() + L"\\qlScanEng.dll", L"", kOlderSuiteText});
    suite.files.push_back({OlderInstallFolder() + L"\\Qengine\\qlOutlook.dll", L"", kOlderSuiteText});
    suite.files.push_back({OlderInstallFolder() + L"\\Qengine\\qlScrScan.dll", sources.comServer32, ""});
    suite.values.push_back(SuiteValue(settings, L"szOutlookDLL", L"qlOutlook.dll"));
    suite.values.push_back(SuiteValue(settings, L"szScriptScanDLL", L"qlScrScan.dll"));
    if (IsWindows64()) {
        suite.files.push_back({OlderInstallFolder() + L"\\Qengine64\\qlScrScan64.dll", sources.comServer64, ""});
        suite.values.push_back(SuiteValue(settings, L"szScriptScan64", L"qlScrScan64.dll"));
    }

    // The mail client's key is the platform's; the suite's entry and its hook.
    for (const wchar_t* key : {L"SOFTWARE\\Microsoft\\Exchange", L"SOFTWARE\\Microsoft\\Exchange\\Client", kMailExtensions})
        suite.platformKeys.push_back({HKEY_LOCAL_MACHINE, key, On(RegView::Bit32)});
    suite.values.push_back(SuiteValue(kMailExtensions, L"Exchange Scan",
                                      L"4.0;" + OlderInstallFolder() + L"\\Qengine\\qlOutlook.dll;1;00000000000000;0000000000"));
    suite.values.push_back(SuiteValue(kMailExtensions, L"Outlook Setup Extension",
                                      L"4.0;" + OlderInstallFolder() + L"\\Qengine\\qlOutlook.dll;7;000000000000000;0000000000;QlOut"));

    const std::wstring onAccess = std::wstring(kOldScanners) + L"\\On Access Scanner";
    for (const std::wstring& key :
         {onAccess + L"\\Sentrel\\E-Mail Scan\\Options", onAccess + L"\\ScriptScan",
          std::wstring(L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDemand"),
          std::wstring(L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDemandDetectionOptions")})
        suite.keys.push_back({HKEY_LOCAL_MACHINE, key, On(RegView::Bit32)});
    suite.values.push_back({{HKEY_LOCAL_MACHINE, onAccess + L"\\ScriptScan", On(RegView::Bit32)}, L"OpState", REG_DWORD, L"", 1});
    suite.values.push_back(
        {{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner\\Outlook", On(RegView::Bit32)}, L"OpState", REG_DWORD, L"", 1});

    // The newer core's script scanners, one per bitness, in the core's folders.
    const std::wstring scanner = L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE\\Script Scanner";
    const std::wstring core32 = CommonFiles32() + L"\\Zelmar\\ZuzadaZozi";
    suite.files.push_back({core32 + L"\\zlss32.dll", sources.comServer32, ""});
    suite.values.push_back(SuiteValue(scanner, L"szBinary32", L"zlss32.dll"));
    suite.values.push_back(SuiteValue(scanner, L"szInstallDir32", core32));
    if (IsWindows64()) {
        const std::wstring core64 = CommonFilesNative() + L"\\Zelmar\\ZuzadaZozi";
        suite.files.push_back({core64 + L"\\zlss64.dll", sources.comServer64, ""});
        suite.values.push_back(SuiteValue(scanner, L"szBinary64", L"zlss64.dll"));
        suite.values.push_back(SuiteValue(scanner, L"szInstallDir64", core64));
    }
}

// COM server modules found by mask and by the string table's lists, and the
// local servers told " /UnregServer".
void AddServers(Footprint& suite, const OlderSources& sources)
{
    const std::wstring& native = IsWindows64() ? sources.comServer64 : sources.comServer32;
    std::vector<std::pair<std::wstring, const std::wstring*>> modules = {
        {L"\\Agent\\tvPluginMail.dll", &sources.comServer32}, {L"\\Agent\\tvAddinShell.dll", &native},
        {L"\\Qengine\\qlScnModCore.dll", &sources.comServer32}};
    for (const wchar_t* listed : {L"\\Agent\\tvAgtCore.dll", L"\\Agent\\tvAgtEvt.dll", L"\\Agent\\tvAgtPol.dll",
                                  L"\\Agent\\tvUpload.dll", L"\\Agent\\zlOemBrand.dll", L"\\Qengine\\qlEngine.dll",
                                  L"\\Qengine\\qlOaScan.dll", L"\\Qengine\\qlOdScan.dll"})
        modules.push_back({listed, &sources.comServer32});
    if (IsWindows64()) modules.push_back({L"\\Qengine64\\qlScnMod64.dll", &sources.comServer64});
    for (const auto& [relative, module] : modules) suite.files.push_back({OlderInstallFolder() + relative, *module, ""});
    for (const wchar_t* server : {L"\\Agent\\tvAgtHost.exe", L"\\Agent\\tvUpdater.exe", L"\\Agent\\tvUsrSrvMain.exe"})
        suite.files.push_back({OlderInstallFolder() + server, sources.componentProgram, ""});
}

// The interface library in the system folder a 32-bit program sees, the
// drivers in the real drivers folder (reached through "Sysnative" from a
// 32-bit program on 64-bit Windows).
void AddIntrusionPrevention(Footprint& suite)
{
    suite.files.push_back({WindowsFolder() + L"\\system32\\BarAPI.dll", L"", kOlderSuiteText});
    const std::wstring drivers = WindowsFolder() + (IsWindows64() ? L"\\Sysnative\\drivers" : L"\\system32\\drivers");
    for (const wchar_t* driver : {L"\\zlIpsDrv.sys", L"\\zlIpsFlt.sys"})
        suite.files.push_back({drivers + driver, L"", kOlderSuiteText});
}

}  // namespace

void AddComponents(Footprint& suite, const OlderSources& sources)
{
    AddServices(suite, sources);
    AddPrograms(suite, sources);
    AddUninstallers(suite, sources);
    AddScanners(suite, sources);
    AddServers(suite, sources);
    AddIntrusionPrevention(suite);
    suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Exchange"});
}

}  // namespace stage
