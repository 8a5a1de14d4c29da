// The newer suite's footprint: its four packages and the agent's package, with
// what they register, and another product's key and file inside the suite's
// shared keys and folders.
#include "Footprint.h"

namespace stage {

namespace {

using win::RegView;

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kSuiteFolder[] = L"\\Zelmar Testbed";

const std::vector<Product>& Products()
{
    static const std::vector<Product> products = {
        {L"Zelmar Endpoint Antivirus", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000001}"},
        {L"Zelmar AGS Connector", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000002}"},
        {L"Zelmar Endpoint Guard Platform", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000003}"},
        {L"Zelmar Endpoint Common Installer", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000004}"},
        {L"Zelmar Management Agent", L"{0C7E5F2A-9B1D-4E3C-8A6F-2D4B6E8F0A1C}"}};
    return products;
}

}  // namespace

std::wstring PlatformFolder() { return ProgramFilesNative() + kSuiteFolder + L"\\Endpoint Guard Platform"; }

const std::vector<Product>& SuiteProducts() { return Products(); }

Footprint NewerSuite(const Sources& sources)
{
    Footprint suite;
    suite.name = L"newer suite";
    // The common installer of the machine's own bitness registers in the native view.
    const std::wstring common = IsWindows64() ? L"CommonInstaller_x64.msi" : L"CommonInstaller.msi";
    if (!sources.suitePackages.empty())
        suite.packages = {sources.suitePackages + L"\\EndpointAntivirus.msi", sources.suitePackages + L"\\AgsConnector.msi",
                          sources.suitePackages + L"\\GuardPlatform.msi", sources.suitePackages + L"\\" + common,
                          sources.agentPackage};
    suite.products = Products();
    suite.packagesLayItems = true;
    // Under Wine a parent's DLL folder does not reach its children, so
    // Guardswitch finds the suite's libraries through the search path.
    suite.pathEntry = PlatformFolder();

    // Written by the common installer (64-bit view) and the agent and trust
    // registrations (32-bit view).
    suite.keys = {{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint", On(RegView::Bit64)},
                  {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices", On(RegView::Bit32)},
                  {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ZuzadaZozi", On(RegView::Bit32)}};
    for (const Product& product : Products())
        for (RegView view : Views()) suite.keys.push_back({HKEY_LOCAL_MACHINE, kUninstall + std::wstring(product.productCode), view});

    const std::wstring suite32 = ProgramFiles32() + kSuiteFolder, suiteNative = ProgramFilesNative() + kSuiteFolder;
    suite.folders = {suite32 + L"\\Antivirus",          suite32 + L"\\AGS Connector",
                     suite32 + L"\\Endpoint Guard Platform", suiteNative + L"\\Common Installer",
                     PlatformFolder(),                   ProgramFiles32() + L"\\Zelmar\\ManagedServices"};

    for (RegView view : Views())
        for (const wchar_t* planted :
             {L"SOFTWARE\\Zelmar\\OtherProduct", L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\OtherVendor"})
            suite.plantedKeys.push_back({HKEY_LOCAL_MACHINE, planted, view});
    suite.plantedFiles = {{suite32 + L"\\Other Product\\keep.txt", L"", "not the suite's"},
                          {ProgramFiles32() + L"\\Zelmar\\Other Product\\keep.txt", L"", "not the suite's"}};
    if (IsWindows64()) suite.plantedFiles.push_back({suiteNative + L"\\Other Product\\keep.txt", L"", "not the suite's"});

    // The suite's shared keys, the Windows Installer's registrations and the
    // session settings (search path, pending renames).
    for (const wchar_t* tree :
         {L"SOFTWARE\\Zelmar", L"SOFTWARE\\Ostrand Labs", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer", L"SOFTWARE\\Classes\\Installer",
          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager"})
        suite.keyTrees.push_back({HKEY_LOCAL_MACHINE, tree});
    suite.folderTrees = {ProgramFilesNative(), WindowsFolder() + L"\\Installer"};
    if (IsWindows64()) suite.folderTrees.push_back(ProgramFiles32());
    return suite;
}

}  // namespace stage
