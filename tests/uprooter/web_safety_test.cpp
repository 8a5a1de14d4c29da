// The web-safety component's own uninstaller, run as its registration stores
// it, and its leftovers: real machine keys, a real component folder under
// Program Files with a module whose DllUnregisterServer records the call.
#include "ComponentStage.h"
#include "NetwardenCleanup.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

constexpr wchar_t kComponentKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\BrowseProtection";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZelmarBrowserProtection";
constexpr wchar_t kEnterprise[] = L"SOFTWARE\\Zelmar\\Netwarden Enterprise";
constexpr wchar_t kEnterprisePlus[] = L"SOFTWARE\\Zelmar\\Netwarden Enterprise Plus";
constexpr wchar_t kOther[] = L"SOFTWARE\\Zelmar\\OtherProduct";

bool KeyExists(const wchar_t* path)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

class WebSafety : public ::testing::Test, public ComponentStage {
protected:
    std::unique_ptr<reloUni> uni = MakeUni();
    const std::wstring folder = install + L"\\BrowseProtection";
    const std::wstring comLog = dir / L"com.txt";
    ScopedEnv comEnv{L"ZL_COM_LOG", comLog};

    WebSafety() { Clean(); }
    ~WebSafety() override { Clean(); }

    static void Clean()
    {
        for (const wchar_t* key : {kComponentKey, kUninstallKey, kEnterprise, kEnterprisePlus, kOther})
            win::DeleteTree(HKEY_LOCAL_MACHINE, key, win::RegView::Native);
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices", win::RegView::Native);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar");
    }
    // The key, with "UninstallString" when a command is given.
    static void Register(const wchar_t* path, const std::wstring& command = L"")
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key), 0);
        if (!command.empty()) win::WriteString(key.get(), L"UninstallString", command);
    }
    // The stand-in under the uninstaller's name and the command that names it.
    std::wstring StageUninstaller(const std::wstring& relative, std::wstring& path) const
    {
        path = Stage(relative);
        return L"\"" + path + L"\" /uninstall /silent";
    }
    bool Has(const std::string& line) const { return Logged().find(line + "\r\n") != std::string::npos; }
};

TEST_F(WebSafety, NotRegisteredRunsNothingAndDeletesNothing)
{
    std::wstring program;
    Register(kComponentKey, StageUninstaller(L"BrowseProtection\\NWUninstall.exe", program));
    netwardenCleanup cleanup(uni->Log());
    EXPECT_FALSE(cleanup.removeNW());
    const std::string log = Logged();
    const size_t first = log.find("Removing NW...\r\n");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.substr(first), "Removing NW...\r\nnetwardenCleanup::removeNW(void) - Net warden not installed\r\n");
    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(KeyExists(kComponentKey));
}

TEST_F(WebSafety, RegisteredComponentIsUninstalledUnregisteredAndItsKeysGo)
{
    std::wstring program;
    const std::wstring command = StageUninstaller(L"BrowseProtection\\NWUninstall.exe", program);
    const std::wstring module = folder + L"\\nwSubSys.dll";
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\comserver\\comserver.dll").c_str(), module.c_str(), FALSE));
    Register(kComponentKey, command);
    Register(kUninstallKey, L"\"C:\\elsewhere\\other.exe\"");
    Register(kEnterprise);
    Register(kEnterprisePlus);
    Register(kOther);

    netwardenCleanup cleanup(uni->Log());
    EXPECT_TRUE(cleanup.removeNW());

    EXPECT_EQ(Recorded(), Lines{"NWUninstall.exe: long " + Narrow(command)});
    EXPECT_EQ(ReadFileBytes(comLog).rfind("DllUnregisterServer 32 " + Narrow(module), 0), 0u) << ReadFileBytes(comLog);
    for (const wchar_t* key : {kComponentKey, kUninstallKey, kEnterprise, kEnterprisePlus})
        EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    EXPECT_TRUE(KeyExists(kOther));
    EXPECT_TRUE(FileExists(module));  // the folder clean-up takes the folder
    EXPECT_TRUE(Has("Launching " + Narrow(command))) << Logged();
    EXPECT_TRUE(Has("Got core install dir as " + Narrow(programFiles) + "\\Zelmar\\Netwarden Enterprise"));
    EXPECT_TRUE(Has("Got AGS-NW install dir as " + Narrow(folder)));
    EXPECT_TRUE(Has("Ok... " + Narrow(folder) + " is existing..."));
    EXPECT_TRUE(Has("Ok... unregisterd " + Narrow(module) + "..."));
}

TEST_F(WebSafety, WithoutTheComponentKeyTheUninstallEntryNamesTheUninstaller)
{
    std::wstring program;
    const std::wstring command = StageUninstaller(L"Shared\\NWUninstall.exe", program);
    Register(kUninstallKey, command);

    netwardenCleanup cleanup(uni->Log());
    EXPECT_TRUE(cleanup.removeNW());

    EXPECT_EQ(Recorded(), Lines{"NWUninstall.exe: long " + Narrow(command)});
    EXPECT_TRUE(Has("netwardenCleanup::removeNW(void) - Could not find BrowseProtection key at " +
                    Narrow(kComponentKey) + ", Retval = 2\r\nchecking Windows\\CurrentVersion\\Uninstall "))
        << Logged();
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_EQ(Logged().find("is existing"), std::string::npos);  // no component folder
}

TEST_F(WebSafety, AnEntryWithoutACommandRunsNothing)
{
    Register(kUninstallKey);
    netwardenCleanup cleanup(uni->Log(), true);
    EXPECT_FALSE(cleanup.removeNW());
    EXPECT_TRUE(Has("netwardenCleanup::removeNW(void) - Query string value failed!! 2")) << Logged();
    EXPECT_TRUE(KeyExists(kUninstallKey));  // no leftovers removed without a run

    win::DeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey, win::RegView::Native);
    EXPECT_FALSE(cleanup.removeNW());
    EXPECT_TRUE(Has("netwardenCleanup::removeNW(void) - Could not find uninstall string in "
                    "Windows\\CurrentVersion\\Uninstall, Retval = 2"))
        << Logged();
    EXPECT_TRUE(Recorded().empty());
}

}  // namespace
