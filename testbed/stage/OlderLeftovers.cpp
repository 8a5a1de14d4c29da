// What the older suite's uninstallers leave behind, as docs/configuration.md
// ("Older suite as laid by the testbed") names it: COM registrations, launch
// values, the suite's keys, context-menu handlers, the web-safety component's
// Windows Installer records, the Virtual PC exclusions, program groups and the
// tray's startup link as real shell links, the installer's temporary folders,
// and the personal firewall generations with recording stand-in programs,
// drivers and keys; another product's items beside each kind.
#include "Footprint.h"

#include <shlobj.h>

namespace stage {

namespace {

using win::RegView;

constexpr wchar_t kClasses[] = L"SOFTWARE\\Classes\\";
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr wchar_t kVirtualMachine[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtual Machine";
constexpr wchar_t kInstallerData[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\";
constexpr wchar_t kSuiteClassPrefix[] = L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0";

// The web-safety component's product codes A, B, C and upgrade code U, packed
// as Windows Installer packs them, and A, B, C braced.
constexpr const wchar_t* kPacked[] = {L"72A9B3D6E1C408F4B9D2E7A5C1F3B810", L"72A9B3D6E1C408F4B9D2E7A5C1F3B820",
                                      L"72A9B3D6E1C408F4B9D2E7A5C1F3B830"};
constexpr wchar_t kPackedUpgrade[] = L"72A9B3D6E1C408F4B9D2E7A5C1F3B801";
constexpr const wchar_t* kBraced[] = {L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B01}", L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B02}",
                                      L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B03}"};


std::wstring ShellFolder(int csidl)
{
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

// The drivers folder of the machine itself: on 64-bit Windows this 32-bit
// stager reaches it through "Sysnative", its "system32" being redirected.
std::wstring DriversFolder() { return WindowsFolder() + (IsWindows64() ? L"\\Sysnative\\drivers" : L"\\system32\\drivers"); }

// The system folder as a 32-bit program sees it.
std::wstring SystemFolder32()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

KeyItem Key(const std::wstring& path, RegView view = RegView::Bit32) { return {HKEY_LOCAL_MACHINE, path, On(view)}; }

ValueItem Text(const std::wstring& path, const wchar_t* name, const std::wstring& text, RegView view = RegView::Bit32)
{
    return {Key(path, view), name, REG_SZ, text, 0};
}

ValueItem Number(const std::wstring& path, const wchar_t* name, DWORD number)
{
    return {Key(path), name, REG_DWORD, L"", number};
}

void Tree(Footprint& suite, const std::wstring& path) { suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, path}); }

// A value in a key of the suite's own, which staging makes: the key is the
// suite's item (and speaks for everything below it).
void Owned(Footprint& suite, const ValueItem& value, const std::wstring& key)
{
    suite.values.push_back(value);
    suite.keys.push_back({HKEY_LOCAL_MACHINE, key, value.key.view});
}
void Owned(Footprint& suite, const ValueItem& value) { Owned(suite, value, value.key.path); }

std::wstring SuiteClass(const wchar_t* tail) { return kSuiteClassPrefix + std::wstring(tail) + L"}"; }

void AddComRegistrations(Footprint& suite)
{
    for (const wchar_t* progId : {L"Zelmar.ScanNowShell", L"Zelmar.AgentNotify"})
        for (const std::wstring& name : {std::wstring(progId), std::wstring(progId) + L".1"}) {
            Owned(suite, Text(kClasses + name + L"\\CLSID", L"", SuiteClass(L"A01")), kClasses + name);
            Tree(suite, kClasses + name);
        }
    const wchar_t* digits = L"0123456789ABCDEF";
    for (int n = 1; n <= 14; ++n) {
        const std::wstring path = kClasses + std::wstring(L"CLSID\\") + SuiteClass((std::wstring(L"A0") + digits[n]).c_str());
        Owned(suite, Text(path + L"\\InprocServer32", L"", OlderInstallFolder() + L"\\Agent\\tvAgtCore.dll"), path);
        Tree(suite, path);
    }
    const std::vector<std::pair<std::wstring, const wchar_t*>> typeInfo = {
        {L"Typelib\\" + SuiteClass(L"B01"), L"\\1.0"},
        {L"Typelib\\" + SuiteClass(L"B02"), L"\\1.0"},
        {L"Interface\\" + SuiteClass(L"C01"), L"\\TypeLib"}};
    for (const auto& [key, below] : typeInfo) {
        suite.keys.push_back(Key(kClasses + key));
        suite.keys.push_back(Key(kClasses + key + below));
        Tree(suite, kClasses + key);
    }
    // Another product's ProgID beside the suite's.
    suite.plantedKeys.push_back(Key(kClasses + std::wstring(L"OtherProduct.Shell")));
    Tree(suite, kClasses + std::wstring(L"OtherProduct.Shell"));
}

void AddLaunchValues(Footprint& suite)
{
    for (const wchar_t* name : {L"ZSplash", L"QuellorTray", L"CloudwardTray", L"CloudwardSplash"})
        suite.values.push_back(Text(kRun, name, L"\"" + OlderInstallFolder() + L"\\DesktopUI\\" + name + L".exe\""));
    // The RunServices values belong to Windows without the NT kernel only: an
    // installation on the NT family never wrote them.
}

void AddSuiteKeys(Footprint& suite)
{
    for (const wchar_t* key : {L"SOFTWARE\\Zelmar\\QLCore\\Engines", L"SOFTWARE\\Zelmar\\QLCore\\Plugins",
                               L"SOFTWARE\\Zelmar\\QLEngine", L"SOFTWARE\\Zelmar\\SharedModules", L"SOFTWARE\\Zelmar\\ZSC"})
        suite.keys.push_back(Key(key));
    for (const wchar_t* product :
         {L"Zelmar Managed Quellor", L"Zelmar Cloudward", L"Tarvo Managed Services", L"Tarvo Personal Firewall",
          L"Zelmar Managed Firewall"})
        Owned(suite, Text(kUninstall + std::wstring(product), L"DisplayName", product));
    Tree(suite, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

    // The context-menu handlers of drives and folders, and another product's beside them.
    for (const wchar_t* owner : {L"Drive", L"Directory"}) {
        const std::wstring handlers = kClasses + std::wstring(owner) + L"\\shellex\\ContextMenuHandlers";
        suite.platformKeys.push_back(Key(handlers));
        Owned(suite, Text(handlers + L"\\ScanNow", L"", SuiteClass(L"A01")));
        Tree(suite, handlers);
    }
    suite.plantedKeys.push_back(Key(kClasses + std::wstring(L"Directory\\shellex\\ContextMenuHandlers\\OtherProductScan")));

    // The on-access scanner's service key as a remnant: no start type.
    const std::wstring sentry = kServices + std::wstring(L"ZlSentry");
    Owned(suite, Text(sentry + L"\\Parameters", L"LogFolder", CommonAppData() + L"\\Zelmar\\ZLLOGS"), sentry);
    Tree(suite, sentry);
}

// The 16 records the removal takes, as the component's three products and its
// upgrade code registered them.
void AddInstallerRecords(Footprint& suite)
{
    for (const wchar_t* packed : kPacked) {
        Owned(suite, Text(kClasses + std::wstring(L"Installer\\Products\\") + packed, L"ProductName",
                          L"Zelmar Browser Protection"));
        suite.keys.push_back(Key(kClasses + std::wstring(L"Installer\\Features\\") + packed));
    }
    Owned(suite, Text(kClasses + std::wstring(L"Installer\\UpgradeCodes\\") + kPackedUpgrade, kPacked[0], L""));
    Owned(suite, Text(kInstallerData + std::wstring(L"UpgradeCodes\\") + kPackedUpgrade, kPacked[0], L"", RegView::Bit64));
    const std::wstring userData = kInstallerData + std::wstring(L"UserData\\S-1-5-18\\Products\\") + kPacked[0];
    suite.keys.push_back(Key(userData, RegView::Bit64));
    suite.keys.push_back(Key(userData + L"\\InstallProperties", RegView::Bit64));
    // A and B in both views, C in the 32-bit view; one view only on 32-bit Windows.
    for (int i = 0; i < 3; ++i) {
        std::vector<RegView> views = {RegView::Bit32};
        if (i < 2 && IsWindows64()) views.push_back(RegView::Bit64);
        for (RegView view : views)
            Owned(suite, Text(kUninstall + std::wstring(kBraced[i]), L"DisplayName", L"Zelmar Browser Protection", view));
    }
    // Windows Installer's own containers, made where they are missing.
    for (const wchar_t* container : {L"", L"\\Products", L"\\Features", L"\\UpgradeCodes"})
        suite.platformKeys.push_back(Key(kClasses + std::wstring(L"Installer") + container));
    for (const wchar_t* container : {L"UpgradeCodes", L"UserData", L"UserData\\S-1-5-18", L"UserData\\S-1-5-18\\Products"})
        suite.platformKeys.push_back(Key(kInstallerData + std::wstring(container), RegView::Bit64));
    Tree(suite, std::wstring(kClasses) + L"Installer");
    Tree(suite, kInstallerData + std::wstring(L"UpgradeCodes"));
    Tree(suite, kInstallerData + std::wstring(L"UserData\\S-1-5-18\\Products"));
}

// Program groups in the common Programs folder, the agent's recorded menu
// entry, the tray's startup link and the Virtual PC exclusions; another
// product's group and startup link beside them.
void AddStartMenu(Footprint& suite)
{
    const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS), startup = ShellFolder(CSIDL_COMMON_STARTUP);
    const std::wstring console = OlderInstallFolder() + L"\\DesktopUI\\GRDSConsole.exe";
    struct Group {
        const wchar_t* folder;
        const wchar_t* link;
    };
    for (const Group& group : {Group{L"Zelmar Cloudward", L"Zelmar Cloudward Console"},
                               Group{L"Zelmar Cloudward", L"Uninstall Zelmar Cloudward"},
                               Group{L"Zelmar Cloudward", L"Zelmar Cloudward"},
                               Group{L"Zelmar Managed Quellor", L"Zelmar Managed Quellor"},
                               Group{L"Zelmar Managed Services", L"Managed Services Agent"}}) {
        suite.folders.push_back(programs + L"\\" + group.folder);
        suite.shortcuts.push_back({programs + L"\\" + group.folder + L"\\" + group.link + L".lnk", console, L""});
    }
    const std::wstring menu = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Menu";
    suite.values.push_back(Text(menu, L"szMenuDir", L"\\"));
    suite.values.push_back(Text(menu, L"szMenuSubDir", L"Zelmar Managed Services\\"));
    suite.values.push_back(Text(menu, L"szMenuLink", L"Managed Services Agent"));
    suite.shortcuts.push_back({startup + L"\\Zelmar Managed Quellor Tray.lnk", OlderInstallFolder() + L"\\DesktopUI\\ZTray.exe", L"/startup"});

    const std::wstring other = L"C:\\Other Product\\other.exe";
    suite.plantedShortcuts.push_back({programs + L"\\Other Product\\Other Product.lnk", other, L""});
    suite.plantedShortcuts.push_back({startup + L"\\Other Product Tray.lnk", other, L"/tray"});

    const std::wstring exclusions = kVirtualMachine + std::wstring(L"\\VPCVAppExcludeList");
    suite.platformKeys.push_back(Key(kVirtualMachine));
    suite.platformKeys.push_back(Key(exclusions));
    for (const wchar_t* name : {L"GRDSConsole.exe", L"Zelmar Managed Quellor", L"Zelmar Managed Quellor.lnk"})
        suite.values.push_back(Number(exclusions, name, 1));
    suite.plantedValues.push_back(Number(exclusions, L"OtherProduct.exe", 1));
    Tree(suite, kVirtualMachine);
}

// The installer's temporary folders and files beside the shared program
// folder's subfolders, and a name the mask does not match.
void AddInstallerTemporaries(Footprint& suite)
{
    const std::wstring zelmar = ProgramFiles32() + L"\\Zelmar";
    suite.folders.push_back(zelmar + L"\\TVO0002.TMP");
    suite.files.push_back({zelmar + L"\\TVO0002.TMP\\setup\\setup.dat", L"", kOlderSuiteText});
    suite.files.push_back({zelmar + L"\\tvo0003.tmp", L"", kOlderSuiteText});
    suite.plantedFiles.push_back({zelmar + L"\\TVO12.TMP", L"", kForeignText});
}

// A firewall folder: its shell-service module (the COM server stand-in) and
// its programs (the recording stand-in).
void AddFirewallFolder(Footprint& suite, const OlderSources& sources, const std::wstring& folder)
{
    suite.folders.push_back(folder);
    suite.files.push_back({folder + L"\\zlPfwShell.dll", sources.comServer32, ""});
    for (const wchar_t* program : {L"zlPfwTray.exe", L"zlPfwAgent.exe", L"data\\drv\\zlPfwConfig.exe", L"zlPfwSvc.exe"})
        suite.files.push_back({folder + L"\\" + program, sources.componentProgram, ""});
}

void AddFirewalls(Footprint& suite, const OlderSources& sources)
{
    // The Tarvo variant, below the Windows folder beside the Tarvo agent's own data.
    const std::wstring tarvo = WindowsFolder() + L"\\Tarvo";
    AddFirewallFolder(suite, sources, tarvo + L"\\PFW");
    suite.plantedFiles.push_back({tarvo + L"\\Agent\\tvagent.dat", L"", kForeignText});
    suite.folderTrees.push_back(tarvo);
    for (const wchar_t* part : {L"TaskbarMenu", L"Components"}) {
        suite.keys.push_back(Key(L"SOFTWARE\\Tarvo\\Agent\\" + std::wstring(part) + L"\\Firewall"));
        suite.plantedKeys.push_back(Key(L"SOFTWARE\\Tarvo\\Agent\\" + std::wstring(part) + L"\\Antivirus"));
    }
    Tree(suite, L"SOFTWARE\\Tarvo");

    // The managed variant in the install folder, with the firewall control module.
    AddFirewallFolder(suite, sources, OlderInstallFolder() + L"\\Firewall");
    suite.files.push_back({OlderInstallFolder() + L"\\Firewall\\zlFwCtl.dll", sources.comServer32, ""});
    for (const wchar_t* part : {L"TaskbarMenu\\PersonalFirewall", L"Components\\PersonalFirewall"})
        suite.keys.push_back(Key(L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\" + std::wstring(part)));
    suite.values.push_back(Text(kRun, L"zlPfwTray", L"\"" + OlderInstallFolder() + L"\\Firewall\\zlPfwTray.exe\""));

    // The consumer edition with its API package and its uninstaller.
    const std::wstring consumer = ProgramFiles32() + L"\\Zelmar\\Personal Firewall Plus";
    suite.folders.push_back(consumer);
    suite.files.push_back({consumer + L"\\zlPfpTray.exe", sources.componentProgram, ""});
    suite.files.push_back({consumer + L"\\zlFwApiUninstall.exe", sources.componentProgram, ""});
    suite.files.push_back({consumer + L"\\zlFwApi.inf", L"", kOlderSuiteText});
    Owned(suite, Text(kUninstall + std::wstring(L"Zelmar Firewall API"), L"UninstallString",
                      L"\"" + consumer + L"\\zlFwApiUninstall.exe\" /silent"));
    // The maker's common installer serves its other products too: it stays.
    suite.plantedFiles.push_back({CommonFiles32() + L"\\Zelmar\\zlInstall.exe", sources.componentProgram, ""});
    suite.files.push_back({CommonFiles32() + L"\\Zelmar\\Intrulog\\zlIlApi.inf", L"", kOlderSuiteText});
    suite.values.push_back(Text(kRunOnce, L"InstIlApi", L"\"" + CommonFiles32() + L"\\Zelmar\\zlInstall.exe\""));
    suite.platformKeys.push_back(Key(kRunOnce));
    Tree(suite, kRunOnce);

    // The drivers in the machine's own drivers folder, their service keys, and
    // another product's driver beside them.
    for (const wchar_t* driver : {L"zlPfwDrv", L"zlPfwNdis"}) {
        const std::wstring file = DriversFolder() + L"\\" + driver + L".sys";
        suite.files.push_back({file, L"", kOlderSuiteText});
        const std::wstring service = kServices + std::wstring(driver);
        Owned(suite, Number(service, L"Type", SERVICE_KERNEL_DRIVER));
        suite.values.push_back(Number(service, L"Start", SERVICE_DEMAND_START));
        suite.values.push_back(Text(service, L"ImagePath", L"system32\\drivers\\" + std::wstring(driver) + L".sys"));
        Tree(suite, service);
    }
    suite.plantedFiles.push_back({DriversFolder() + L"\\zlOtherDrv.sys", L"", kForeignText});
    suite.folderTrees.push_back(DriversFolder());

    // The older consumer edition: its keys, data folder and status file.
    suite.platformKeys.push_back(Key(kServices + std::wstring(L"VxD")));
    for (const wchar_t* vxd : {L"ZLHFW", L"ZLHFWNDIS"}) suite.keys.push_back(Key(kServices + std::wstring(L"VxD\\") + vxd));
    Tree(suite, kServices + std::wstring(L"VxD"));
    suite.keys.push_back(Key(L"SOFTWARE\\Zelmar Home"));
    suite.keys.push_back(Key(L"SOFTWARE\\Zelmar Home\\Agent\\Apps\\Firewall"));
    suite.keys.push_back(Key(L"SOFTWARE\\Zelmar Home\\Firewall"));
    Tree(suite, L"SOFTWARE\\Zelmar Home");
    suite.folders.push_back(CommonAppData() + L"\\Zelmar\\Home Firewall");
    suite.files.push_back({CommonAppData() + L"\\Zelmar\\Home Firewall\\rules.dat", L"", kOlderSuiteText});
    suite.files.push_back({SystemFolder32() + L"\\zlhfw.dat", L"", kOlderSuiteText});
}

}  // namespace

void AddLeftovers(Footprint& suite, const OlderSources& sources)
{
    AddComRegistrations(suite);
    AddLaunchValues(suite);
    AddSuiteKeys(suite);
    AddInstallerRecords(suite);
    AddStartMenu(suite);
    AddInstallerTemporaries(suite);
    AddFirewalls(suite, sources);
}

}  // namespace stage
