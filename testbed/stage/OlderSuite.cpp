// The older managed suite's footprint, as its installation leaves it and as
// docs/configuration.md ("Older suite as laid by the testbed") names it: the
// agent, the install folder with its program subfolders, the suite's parts of
// the shared "Zelmar" folders and keys, the Defender record, the script
// engines pointed at a proxy module that no longer exists, the script-scanning
// browser helper object; and another product's data among it all.
#include "Footprint.h"

namespace stage {

namespace {

using win::RegView;

constexpr wchar_t kMainKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kHelperObjects[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr wchar_t kJScript[] = L"CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}";
constexpr wchar_t kVBScript[] = L"CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}";
constexpr wchar_t kHelperObject[] = L"{3E9B6A1C-7D24-4F58-B0C1-5A6D7E8F9012}";
constexpr wchar_t kForeignClass[] = L"CLSID\\{9C1D2E3F-4A5B-4C6D-8E7F-0A1B2C3D4E5F}";

// The shared "Zelmar" folders: the suite's subfolders with a file each, and
// another product's subfolder and file beside them.
struct SharedFolder {
    std::wstring parent;
    std::vector<const wchar_t*> owned;
};

std::vector<SharedFolder> SharedFolders()
{
    std::vector<SharedFolder> shared = {
        {CommonAppData() + L"\\Zelmar", {L"Intrulog", L"Managed Quellor", L"ZLLOGS"}},
        {ProgramFiles32() + L"\\Zelmar", {L"ZPF", L"data", L"Temp", L"TVO0001.TMP"}},
        {CommonFiles32() + L"\\Zelmar", {L"Core", L"Intrulog", L"ZuzadaZozi", L"AGSSYSCORE"}}};
    if (IsWindows64()) shared.push_back({CommonFilesNative() + L"\\Zelmar", {L"Core", L"ZuzadaZozi"}});
    return shared;
}

ValueItem Text(HKEY root, const std::wstring& path, RegView view, const wchar_t* name, const std::wstring& text)
{
    return {{root, path, view}, name, REG_SZ, text, 0};
}

ValueItem Number(const std::wstring& path, RegView view, const wchar_t* name, DWORD number)
{
    return {{HKEY_LOCAL_MACHINE, path, view}, name, REG_DWORD, L"", number};
}

void AddInstallFolder(Footprint& suite, const OlderSources& sources)
{
    const std::wstring install = OlderInstallFolder();
    suite.folders.push_back(install);
    std::vector<const wchar_t*> subfolders = {L"Qengine", L"Firewall", L"Agent", L"Shared", L"DesktopUI"};
    if (IsWindows64()) subfolders.push_back(L"Qengine64");
    for (const wchar_t* sub : subfolders)
        suite.files.push_back({install + L"\\" + sub + L"\\" + sub + L".dat", L"", kOlderSuiteText});
    suite.files.push_back({install + L"\\Agent\\tvAgtSvc.exe", sources.agentProgram, ""});
}

void AddSharedFolders(Footprint& suite)
{
    for (const SharedFolder& shared : SharedFolders()) {
        for (const wchar_t* owned : shared.owned) {
            suite.folders.push_back(shared.parent + L"\\" + owned);
            suite.files.push_back({shared.parent + L"\\" + owned + L"\\" + owned + L".dat", L"", kOlderSuiteText});
        }
        suite.plantedFiles.push_back({shared.parent + L"\\Other Product\\keep.txt", L"", kForeignText});
        suite.plantedFiles.push_back({shared.parent + L"\\other-product.txt", L"", kForeignText});
    }
    // Recursion must stop at a link inside the suite's folder.
    suite.plantedLinks.push_back({OlderInstallFolder() + L"\\Shared\\Other Product", CommonAppData() + L"\\Zelmar\\Other Product"});
}

void AddKeys(Footprint& suite)
{
    const RegView view32 = On(RegView::Bit32);
    const std::wstring main = kMainKey, agent = main + L"\\Agent";
    // Parents before their subkeys: the audit names the highest key left.
    for (const wchar_t* key :
         {L"SOFTWARE\\Zelmar\\ManagedServices", L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\QuellorRelo",
          L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\Firewall",
          L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection",
          L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\SubSystems\\tvUpload\\Configuration",
          L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor", L"SOFTWARE\\Zelmar\\ZuzadaZozi",
          L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE\\Script Scanner", L"SOFTWARE\\Zelmar\\QLCore",
          L"SOFTWARE\\Zelmar\\QLCore\\Script Scanner", L"SOFTWARE\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDelivery",
          L"SOFTWARE\\Zelmar\\Intrulog", L"SOFTWARE\\Zelmar\\Installer", L"SOFTWARE\\Zelmar\\Personal Firewall",
          L"SOFTWARE\\Ostrand Labs\\KRX", L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components\\On Access Scanner\\ScriptScan"})
        suite.keys.push_back({HKEY_LOCAL_MACHINE, key, view32});

    suite.values = {
        Text(HKEY_LOCAL_MACHINE, main, view32, L"szInstallDir", OlderInstallFolder()),
        Text(HKEY_LOCAL_MACHINE, agent, view32, L"szAppName", L"Zelmar Managed Quellor"),
        Number(agent + L"\\SubSystems\\tvUpload\\Configuration", view32, L"dwUninstalling", 0),
        Number(main + L"\\Quellor", view32, L"PrevWDStatus", 1),
        Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ZuzadaZozi", view32, L"szInstallDir32",
             CommonFiles32() + L"\\Zelmar\\ZuzadaZozi"),
        Text(HKEY_LOCAL_MACHINE, kRun, view32, L"ZTray", L"\"" + OlderInstallFolder() + L"\\DesktopUI\\ZTray.exe\"")};
    if (IsWindows64())
        suite.values.push_back(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ZuzadaZozi", view32, L"szInstallDir64",
                                    CommonFilesNative() + L"\\Zelmar\\ZuzadaZozi"));
}

// The script scanner's leftovers, in each view: the engines pointed at its
// proxy module (which no longer exists) and its browser helper object.
void AddScriptScanner(Footprint& suite)
{
    for (RegView view : Views()) {
        suite.platformKeys.push_back({HKEY_LOCAL_MACHINE, kHelperObjects, view});
        const std::wstring proxy = OlderInstallFolder() + (view == RegView::Bit64 ? L"\\Qengine64\\zlsproxy64.dll"
                                                                              : L"\\Qengine\\zlsproxy.dll");
        for (const wchar_t* engine : {kJScript, kVBScript})
            suite.values.push_back(Text(HKEY_CLASSES_ROOT, engine + std::wstring(L"\\InprocServer32"), view, L"", proxy));
        suite.keys.push_back({HKEY_LOCAL_MACHINE, kHelperObjects + std::wstring(L"\\") + kHelperObject, view});
        suite.keys.push_back({HKEY_CLASSES_ROOT, L"CLSID\\" + std::wstring(kHelperObject), view});
        suite.values.push_back(Text(HKEY_CLASSES_ROOT, L"CLSID\\" + std::wstring(kHelperObject) + L"\\InProcServer32",
                                    view, L"", OlderInstallFolder() + L"\\Qengine\\zlssbho.dll"));
    }
}

void AddPlantedKeys(Footprint& suite)
{
    for (RegView view : Views()) {
        suite.plantedKeys.push_back({HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\OtherProduct", view});
        suite.plantedKeys.push_back({HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\OtherVendor", view});
        suite.plantedKeys.push_back({HKEY_CLASSES_ROOT, kForeignClass + std::wstring(L"\\InprocServer32"), view});
    }
    suite.plantedValues.push_back(
        Text(HKEY_LOCAL_MACHINE, kRun, On(RegView::Bit32), L"OtherProductTray", L"\"C:\\Other Product\\tray.exe\""));
}

}  // namespace

std::wstring OlderInstallFolder() { return ProgramFiles32() + L"\\Zelmar\\Managed Quellor"; }

Footprint OlderSuite(const OlderSources& sources)
{
    Footprint suite;
    suite.name = L"older suite";
    AddInstallFolder(suite, sources);
    AddSharedFolders(suite);
    AddKeys(suite);
    AddScriptScanner(suite);
    AddPlantedKeys(suite);
    AddUsersAndBrowser(suite, sources);
    AddComponents(suite, sources);
    AddLeftovers(suite, sources);
    suite.platformFiles.push_back({ProgramFiles32() + L"\\Windows Defender\\MpClient.dll", sources.defenderLibrary, ""});

    for (const wchar_t* tree :
         {L"SOFTWARE\\Zelmar", L"SOFTWARE\\Ostrand Labs", kRun, kHelperObjects,
          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager"})
        suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, tree});
    for (const std::wstring& tree : {std::wstring(kJScript), std::wstring(kVBScript), std::wstring(kForeignClass),
                                     L"CLSID\\" + std::wstring(kHelperObject)})
        suite.keyTrees.push_back({HKEY_CLASSES_ROOT, tree});
    suite.folderTrees = {ProgramFilesNative(), CommonAppData(), Env(L"TEMP")};
    if (IsWindows64()) suite.folderTrees.push_back(ProgramFiles32());
    return suite;
}

}  // namespace stage
