// The older suite's parts outside its own keys and folders, as docs/configuration.md
// ("Older suite as laid by the testbed") names them: its per-user keys in the
// current user's hive and in the hive of a user who is not logged on, the
// web-safety component with its uninstaller, module and Windows Installer
// records, its files in Firefox's components folder, and the links its 64-bit
// keys are on 64-bit Windows. Another product's data lies beside each.
#include "Footprint.h"
#include "Places.h"

namespace stage {

namespace {

using win::RegView;

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// A second user of the machine, who is not logged on.
constexpr wchar_t kOtherUserSid[] = L"S-1-5-21-0-0-0-1001";
constexpr wchar_t kOtherUserFolder[] = L"\\Other User";
constexpr wchar_t kMozilla[] = L"SOFTWARE\\Mozilla";
constexpr wchar_t kFirefox[] = L"SOFTWARE\\Mozilla\\Mozilla Firefox";
constexpr wchar_t kFirefoxVersioned[] = L"SOFTWARE\\Mozilla\\Mozilla Firefox 3.6 (en-US)";
constexpr const wchar_t* kFirefoxComponents[] = {L"nsZlWebSafe.js", L"zlwebsafe.xpt", L"zlwebsafe.dll",
                                                 L"nsZlRating.js", L"zlrating.xpt"};

// The web-safety component's products A, B, C and its upgrade code U, the
// braced codes and the codes packed as Windows Installer packs them.
constexpr wchar_t kProductA[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B01}";
constexpr wchar_t kProductB[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B02}";
constexpr wchar_t kProductC[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B03}";
constexpr wchar_t kPackedA[] = L"72A9B3D6E1C408F4B9D2E7A5C1F3B810";
constexpr wchar_t kPackedB[] = L"72A9B3D6E1C408F4B9D2E7A5C1F3B820";
constexpr wchar_t kPackedC[] = L"72A9B3D6E1C408F4B9D2E7A5C1F3B830";
constexpr wchar_t kPackedU[] = L"72A9B3D6E1C408F4B9D2E7A5C1F3B801";

ValueItem Text(HKEY root, const std::wstring& path, RegView view, const wchar_t* name, const std::wstring& text,
               DWORD type = REG_SZ)
{
    return {{root, path, view}, name, type, text, 0};
}

// The folder of the users' profiles, from the environment: asking the
// registry here would open HKEY_LOCAL_MACHINE before the stager starts a host
// program, and under Wine that start closes the handle (docs/wine.md).
std::wstring ProfilesFolder() { return Parent(Env(L"USERPROFILE")); }

// The key and every key above it up to (not including) top, as platform keys:
// the audit counts exactly these as the platform's.
void AddPlatformPath(Footprint& suite, HKEY root, const std::wstring& top, std::wstring key, RegView view)
{
    while (key.size() > top.size()) {
        suite.platformKeys.push_back({root, key, view});
        const size_t cut = key.rfind(L'\\');
        if (cut == std::wstring::npos) break;
        key.resize(cut);
    }
}

// The suite's keys in the logged-on user's hive, reached as HKEY_CURRENT_USER.
void AddCurrentUser(Footprint& suite)
{
    for (const wchar_t* key : {L"SOFTWARE\\Zelmar\\ManagedServices", L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Notifications",
                               L"SOFTWARE\\Zelmar\\QLCore"})
        suite.keys.push_back({HKEY_CURRENT_USER, key, RegView::Native});
    suite.values.push_back(Text(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\QLCore", RegView::Native, L"szLastScan",
                                L"never"));
    suite.plantedKeys.push_back({HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\OtherProduct", RegView::Native});
    suite.keyTrees.push_back({HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar"});
}

// A second user with a profile of his own, not logged on: his profile-list
// entry names the folder as Windows stores it ("%SystemDrive%\..."), and his
// hive holds the suite's keys and another product's.
void AddLoggedOffUser(Footprint& suite)
{
    const std::wstring folder = ProfilesFolder() + kOtherUserFolder;
    const std::wstring drive = Env(L"SystemDrive");
    const std::wstring stored =
        !drive.empty() && StartsWith(folder, drive) ? L"%SystemDrive%" + folder.substr(drive.size()) : folder;
    const std::wstring entry = std::wstring(kProfileList) + L"\\" + kOtherUserSid;
    for (RegView view : Views()) {
        suite.platformKeys.push_back({HKEY_LOCAL_MACHINE, entry, view});
        suite.plantedValues.push_back(
            Text(HKEY_LOCAL_MACHINE, entry, view, L"ProfileImagePath", stored, REG_EXPAND_SZ));
    }
    suite.userHives.push_back({folder,
                               {L"SOFTWARE\\Zelmar\\ManagedServices\\Agent", L"SOFTWARE\\Zelmar\\QLCore"},
                               {L"SOFTWARE\\Zelmar\\OtherProduct"}});
    suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, kProfileList});
}

// The profile folder the suite's service account "ZelmarMQLUser" got when its
// user service first ran. The account itself is not laid: Wine's account
// calls are stubs that store nothing, and its look-up knows no such account,
// so on the prefix the account is always gone; the removal's calls for it
// show in the run log.
void AddServiceAccountProfile(Footprint& suite)
{
    const std::wstring folder = ProfilesFolder() + L"\\ZelmarMQLUser";
    suite.folders.push_back(folder);
    suite.folders.push_back(folder + L"\\Local Settings");
    suite.files.push_back({folder + L"\\ntuser.ini", L"", kOlderSuiteText});
    suite.files.push_back({folder + L"\\Local Settings\\tvUsrSrv.log", L"", kOlderSuiteText});
}

// The web-safety component: registered with its uninstaller (the component
// stand-in), its subsystem module (the COM server stand-in), its folders, the
// enterprise editions' keys and its Windows Installer records.
void AddWebSafety(Footprint& suite, const OlderSources& sources)
{
    const RegView view32 = On(RegView::Bit32), view64 = On(RegView::Bit64);
    const std::wstring folder = OlderInstallFolder() + L"\\BrowseProtection";
    const std::wstring command = L"\"" + folder + L"\\NWUninstall.exe\" /uninstall /silent";
    const std::wstring entry = std::wstring(kUninstall) + L"\\ZelmarBrowserProtection";
    suite.keys.push_back({HKEY_LOCAL_MACHINE, entry, view32});
    suite.values.push_back(Text(HKEY_LOCAL_MACHINE, entry, view32, L"DisplayName", L"Zelmar Browser Protection"));
    suite.values.push_back(Text(HKEY_LOCAL_MACHINE, entry, view32, L"UninstallString", command));
    // The component key itself is one of the suite's keys already.
    suite.values.push_back(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection",
                                view32, L"UninstallString", command));
    for (const wchar_t* key : {L"SOFTWARE\\Zelmar\\Netwarden Enterprise", L"SOFTWARE\\Zelmar\\Netwarden Enterprise Plus"}) {
        suite.keys.push_back({HKEY_LOCAL_MACHINE, key, view32});
        suite.values.push_back(Text(HKEY_LOCAL_MACHINE, key, view32, L"szInstallDir",
                                    ProgramFiles32() + L"\\Zelmar\\Netwarden Enterprise"));
    }

    suite.files.push_back({folder + L"\\NWUninstall.exe", sources.componentProgram, ""});
    suite.files.push_back({folder + L"\\nwSubSys.dll", sources.comServer32, ""});
    for (const std::wstring& owned : {ProgramFiles32() + L"\\Zelmar\\Netwarden Enterprise", CommonAppData() + L"\\Zelmar\\Netwarden"}) {
        suite.folders.push_back(owned);
        suite.files.push_back({owned + L"\\nwcore.dat", L"", kOlderSuiteText});
    }

    // Windows Installer's records of the component. Its keys in
    // HKEY_CLASSES_ROOT and the uninstall entries are where Uprooter, a 32-bit
    // program, sees them; the installer's own keys are in the 64-bit view.
    const std::wstring currentVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring installer = currentVersion + L"\\Installer";
    std::vector<KeyItem> records;
    for (const wchar_t* packed : {kPackedA, kPackedB, kPackedC}) {
        records.push_back({HKEY_CLASSES_ROOT, L"Installer\\Products\\" + std::wstring(packed), view32});
        records.push_back({HKEY_CLASSES_ROOT, L"Installer\\Features\\" + std::wstring(packed), view32});
    }
    records.push_back({HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\" + std::wstring(kPackedU), view32});
    records.push_back({HKEY_LOCAL_MACHINE, installer + L"\\UpgradeCodes\\" + kPackedU, view64});
    records.push_back({HKEY_LOCAL_MACHINE, installer + L"\\UserData\\S-1-5-18\\Products\\" + kPackedA, view64});
    for (const wchar_t* product : {kProductA, kProductB})
        for (RegView view : Views()) records.push_back({HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\" + product, view});
    records.push_back({HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\" + kProductC, view32});
    for (const KeyItem& record : records) {
        suite.keys.push_back(record);
        suite.values.push_back(Text(record.root, record.path, record.view, L"ProductName", L"Zelmar Browser Protection"));
        AddPlatformPath(suite, record.root, record.root == HKEY_CLASSES_ROOT ? L"" : currentVersion,
                        record.path.substr(0, record.path.rfind(L'\\')), record.view);
    }
    suite.keyTrees.push_back({HKEY_CLASSES_ROOT, L"Installer"});
    suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, installer});
    suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, kUninstall});
}

// Firefox 3.6 registered as its installer registers it, its components folder
// holding the suite's five files beside one of Firefox's own. The removal
// writes the marker that makes Firefox register its components again.
void AddFirefoxComponents(Footprint& suite)
{
    const RegView view32 = On(RegView::Bit32);
    const std::wstring program = ProgramFiles32() + L"\\Mozilla Firefox", components = program + L"\\components";
    AddPlatformPath(suite, HKEY_LOCAL_MACHINE, L"SOFTWARE", kFirefox, view32);
    AddPlatformPath(suite, HKEY_LOCAL_MACHINE, kMozilla, std::wstring(kFirefoxVersioned) + L"\\extensions", view32);
    suite.plantedValues.push_back(Text(HKEY_LOCAL_MACHINE, kFirefox, view32, L"CurrentVersion", L"3.6 (en-US)"));
    suite.plantedValues.push_back(
        Text(HKEY_LOCAL_MACHINE, std::wstring(kFirefoxVersioned) + L"\\extensions", view32, L"Components", components));
    for (const wchar_t* name : kFirefoxComponents) suite.files.push_back({components + L"\\" + name, L"", kOlderSuiteText});
    suite.plantedFiles.push_back({components + L"\\browser.xpt", L"", kForeignText});
    suite.removalWrites.push_back({program + L"\\.autoreg", L"", std::string("autoreg\0", 8)});
    suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, kMozilla});
}

// On 64-bit Windows the suite's keys in the 64-bit view are links to its keys
// in the 32-bit view.
void AddRegistryLinks(Footprint& suite)
{
    if (!IsWindows64()) return;
    for (const wchar_t* key : {L"ManagedServices", L"QLCore", L"ZuzadaZozi"})
        suite.registryLinks.push_back({L"SOFTWARE\\Zelmar\\" + std::wstring(key),
                                       L"\\Registry\\Machine\\Software\\Wow6432Node\\Zelmar\\" + std::wstring(key)});
}

}  // namespace

void AddUsersAndBrowser(Footprint& suite, const OlderSources& sources)
{
    AddCurrentUser(suite);
    AddLoggedOffUser(suite);
    AddServiceAccountProfile(suite);
    AddWebSafety(suite, sources);
    AddFirefoxComponents(suite);
    AddRegistryLinks(suite);
}

}  // namespace stage
