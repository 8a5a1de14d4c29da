// The older suite's registration leftovers, program groups and startup
// entries, against real keys in both views, real .lnk files made through the
// shell link object and the real Programs and Startup folders of the prefix.
#include "PlatformInfo.h"
#include "Registrations.h"
#include "Scratch.h"
#include "reloUni.h"

#include "Com.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>

using namespace testing_support;
using win::RegView;

namespace {

constexpr wchar_t kServiceKey[] = L"System\\CurrentControlSet\\Services\\ZlSentry";
constexpr wchar_t kExclusionKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtual Machine\\VPCVAppExcludeList";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kClasses[] = L"SOFTWARE\\Classes\\CLSID\\";
constexpr wchar_t kSuiteClass[] = L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0E}";
constexpr wchar_t kForeignClass[] = L"{9C1D2E3F-4A5B-4C6D-8E7F-0A1B2C3D4E5F}";
constexpr wchar_t kProductA[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B01}";

std::wstring ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

bool KeyExists(HKEY root, const std::wstring& path, RegView view = RegView::Native)
{
    win::Key key;
    return win::OpenKey(root, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

bool ValueExists(const std::wstring& path, const wchar_t* name)
{
    win::Key key;
    std::wstring text;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, RegView::Native, key) == ERROR_SUCCESS &&
           win::ReadString(key.get(), name, text) == ERROR_SUCCESS;
}

void MakeKey(HKEY root, const std::wstring& path, RegView view = RegView::Native, const wchar_t* value = nullptr)
{
    win::Key key;
    ASSERT_EQ(win::CreateKey(root, path, KEY_ALL_ACCESS, view, key), ERROR_SUCCESS) << path.c_str();
    if (value) {
        ASSERT_EQ(win::WriteString(key.get(), value, L"x"), ERROR_SUCCESS);
    }
}

// A real shell link to the test program, saved at path (its folders made).
void MakeLink(const std::wstring& path)
{
    SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
    win::ComInit com;
    win::ComPtr<IShellLinkW> link;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())));
    link->SetPath(BuildPath(L"tests\\uprooter\\uprooter_registration_tests.exe").c_str());
    win::ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid())));
    ASSERT_TRUE(SUCCEEDED(file->Save(path.c_str(), TRUE)));
    ASSERT_TRUE(FileExists(path));
}

class Registrations : public ::testing::Test {
protected:
    ScratchDir dir{L"registrations"};
    std::unique_ptr<reloUni> uni = [this] {
        auto made = std::make_unique<reloUni>();
        made->Log() = dir / L"run.log";
        made->Log().Open();
        return made;
    }();
    std::string Logged() const { return ReadFileBytes(dir / L"run.log"); }
};

// --- Program groups ------------------------------------------------------------------

class ProgramGroups : public Registrations {
protected:
    const std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
    const std::wstring suiteGroup = programs + L"\\Zelmar Cloudward";
    const std::wstring foreignGroup = programs + L"\\Other Vendor";
    const std::wstring foreignLink = foreignGroup + L"\\Other Tool.lnk";
    const std::wstring foreignTopLink = programs + L"\\OtherProduct.lnk";

    ProgramGroups()
    {
        MakeLink(foreignLink);
        MakeLink(foreignTopLink);
    }
    ~ProgramGroups() override
    {
        win::RemoveTree(suiteGroup);
        win::RemoveTree(foreignGroup);
        win::RemoveTree(programs + L"\\Zelmar");
        DeleteFileW(foreignTopLink.c_str());
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices", RegView::Native);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar");
    }
    void Record(const wchar_t* dir, const wchar_t* subDir, const wchar_t* link)
    {
        win::Key menu;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Menu", KEY_ALL_ACCESS,
                                 RegView::Native, menu),
                  ERROR_SUCCESS);
        win::WriteString(menu.get(), L"szMenuDir", dir);
        win::WriteString(menu.get(), L"szMenuSubDir", subDir);
        win::WriteString(menu.get(), L"szMenuLink", link);
    }
    void ExpectForeignIntact() const
    {
        EXPECT_TRUE(FileExists(foreignLink));
        EXPECT_TRUE(FileExists(foreignTopLink));
        EXPECT_TRUE(FileExists(programs));
    }
};

TEST_F(ProgramGroups, TheSuitesGroupGoesWithItsRealLinksAndNothingElse)
{
    const std::wstring console = suiteGroup + L"\\Zelmar Cloudward Console.lnk";
    MakeLink(console);
    MakeLink(suiteGroup + L"\\Tools\\Readme.lnk");
    RemoveProgramGroups(*uni);
    EXPECT_FALSE(FileExists(console));
    EXPECT_FALSE(FileExists(suiteGroup));
    ExpectForeignIntact();
    const std::string log = Logged();
    EXPECT_NE(log.find("uprooter.Exe, Got IShell instance.\r\nuprooter.Exe, Got IMalloc instance.\r\n"
                       "uprooter.Exe, Got Startmenut Location.\r\nuprooter.Exe, Deleting start menu link " +
                       Narrow(console) + ".\r\n"),
              std::string::npos)
        << log;
    // Run twice: the missing group is no error and nothing is left for the restart.
    RemoveProgramGroups(*uni);
    ExpectForeignIntact();
}

TEST_F(ProgramGroups, TheRecordedEntryIsHonouredOnlyWithAllThreeValues)
{
    const std::wstring recorded = programs + L"\\Zelmar\\Recorded Group\\Recorded.lnk";
    MakeLink(recorded);
    Record(L"\\Zelmar\\", L"", L"Recorded");
    RemoveProgramGroups(*uni);
    EXPECT_TRUE(FileExists(recorded)) << "a menu value empty: nothing recorded is deleted";

    Record(L"\\Zelmar\\", L"Recorded Group\\", L"Recorded");
    RemoveProgramGroups(*uni);
    EXPECT_FALSE(FileExists(recorded));
    EXPECT_FALSE(FileExists(programs + L"\\Zelmar\\Recorded Group"));
    ExpectForeignIntact();
}

// In the sequence the registration leftovers' step deletes the agent's key
// before the program groups' step runs: the entry it recorded still counts.
TEST_F(ProgramGroups, TheRecordedEntryOutlivesTheAgentsKey)
{
    const std::wstring recorded = programs + L"\\Zelmar\\Recorded Group\\Recorded.lnk";
    MakeLink(recorded);
    Record(L"\\Zelmar\\", L"Recorded Group\\", L"Recorded");
    RemoveRegistrationLeftovers(*uni);
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Menu"));
    RemoveProgramGroups(*uni);
    EXPECT_FALSE(FileExists(recorded));
    EXPECT_FALSE(FileExists(programs + L"\\Zelmar\\Recorded Group"));
    ExpectForeignIntact();
}

TEST_F(ProgramGroups, HostileEntriesAreRefusedAndDeleteNothing)
{
    struct Entry {
        const wchar_t* subfolder;
        const wchar_t* link;
    };
    for (Entry entry : {Entry{L"", L"OtherProduct"}, Entry{L"\\", L"OtherProduct"}, Entry{L"\\.\\", L"OtherProduct"},
                        Entry{L"\\..\\", L"Programs"}, Entry{L"\\..\\..\\", L"x"},
                        Entry{L"\\Zelmar Cloudward\\..\\", L"OtherProduct"},
                        Entry{L"\\Other Vendor\\..\\..\\Programs\\", L"x"}, Entry{L"\\Zelmar Cloudward\\", L""},
                        Entry{L"\\Zelmar Cloudward\\", L"..\\..\\OtherProduct"},
                        Entry{L"\\Zelmar Cloudward\\", L"..\\Other Vendor\\Other Tool"},
                        Entry{L"\\Zelmar Cloudward\\", L"C:\\x"}}) {
        RemoveProgramGroups(*uni);  // nothing of the suite's: harmless
        DeleteStartMenuLink(entry.subfolder, entry.link, *uni);
        ExpectForeignIntact();
        EXPECT_NE(Logged().find("DeleteStartMenuLink - Refusing start menu entry \"" + Narrow(entry.subfolder) +
                                "\" \"" + Narrow(entry.link) + "\""),
                  std::string::npos)
            << Narrow(entry.subfolder) << " | " << Narrow(entry.link);
    }
    // The same through the agent's recorded values.
    Record(L"\\", L"..\\", L"Programs");
    RemoveProgramGroups(*uni);
    ExpectForeignIntact();
    // Recorded values reach only the suite's groups, never another product's.
    Record(L"\\", L"Other Vendor\\", L"Other Tool");
    RemoveProgramGroups(*uni);
    ExpectForeignIntact();
    EXPECT_NE(Logged().find("RemoveProgramGroups - Refusing recorded start menu entry \"\\Other Vendor\\\" \"Other "
                            "Tool\": not a group of the suite"),
              std::string::npos)
        << Logged();
}

TEST_F(ProgramGroups, ASubfolderWithoutItsLastSeparatorKeepsTheLinkInsideTheGroup)
{
    // Joined as given, "\Other" and "Product" would name Programs\OtherProduct.lnk.
    DeleteStartMenuLink(L"\\Other", L"Product", *uni);
    ExpectForeignIntact();
}

// --- Startup entries -------------------------------------------------------------------

class StartupEntries : public Registrations {
protected:
    const std::wstring startupLink = ShellFolder(CSIDL_COMMON_STARTUP) + L"\\Zelmar Managed Quellor Tray.lnk";
    StartupEntries() { MakeLink(startupLink); }
    ~StartupEntries() override
    {
        DeleteFileW(startupLink.c_str());
        win::DeleteTree(HKEY_LOCAL_MACHINE, kExclusionKey, RegView::Native);
    }
};

TEST_F(StartupEntries, WithoutTheExclusionKeyTheStartupLinkStays)
{
    RemoveStartupEntries(*uni);
    EXPECT_TRUE(FileExists(startupLink));
    EXPECT_EQ(Logged().find("Failed"), std::string::npos) << Logged();
}

TEST_F(StartupEntries, TheExclusionValuesAndTheStartupLinkGoOthersStay)
{
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, kExclusionKey, KEY_ALL_ACCESS, RegView::Native, key), ERROR_SUCCESS);
    for (const wchar_t* name : {L"Zelmar Managed Quellor", L"Zelmar Managed Quellor.lnk", L"Other.exe"})
        win::WriteString(key.get(), name, L"");
    RemoveStartupEntries(*uni);
    EXPECT_FALSE(ValueExists(kExclusionKey, L"Zelmar Managed Quellor"));
    EXPECT_FALSE(ValueExists(kExclusionKey, L"Zelmar Managed Quellor.lnk"));
    EXPECT_TRUE(ValueExists(kExclusionKey, L"Other.exe"));
    EXPECT_FALSE(FileExists(startupLink));
    EXPECT_NE(Logged().find("Failed to remove the registry value GRDSConsole.exe. Error: 2\r\n"), std::string::npos);

    RemoveStartupEntries(*uni);
    EXPECT_NE(Logged().find("Failed to remove the shortcut from the startup menu. Error: 2\r\n"), std::string::npos);
}

// --- Registration leftovers ----------------------------------------------------------

class Leftovers : public Registrations {
protected:
    ~Leftovers() override
    {
        win::DeleteTree(HKEY_LOCAL_MACHINE, kServiceKey, RegView::Native);
        win::DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kSuiteClass, RegView::Bit32);
        win::DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kForeignClass, RegView::Bit32);
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", RegView::Native);
        win::Key run;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, kRunKey, KEY_ALL_ACCESS, RegView::Native, run) == ERROR_SUCCESS)
            for (const wchar_t* name : {L"ZTray", L"CloudwardSplash", L"OtherProductTray"})
                RegDeleteValueW(run.get(), name);
    }
};

TEST_F(Leftovers, AServiceKeyWithAStartTypeStaysARemnantGoesAndNoneIsLeftBehind)
{
    RemoveRegistrationLeftovers(*uni);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kServiceKey)) << "created by the open, deleted again";

    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kServiceKey) + L"\\Parameters");
    RemoveRegistrationLeftovers(*uni);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kServiceKey));
    EXPECT_NE(Logged().find("Work around to remove ZlSentry service registry hive without start value\r\n"),
              std::string::npos);

    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kServiceKey) + L"\\Parameters");
    {
        win::Key key;
        ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, kServiceKey, KEY_ALL_ACCESS, RegView::Native, key), ERROR_SUCCESS);
        ASSERT_EQ(win::WriteDword(key.get(), L"Start", 3), ERROR_SUCCESS);
    }
    RemoveRegistrationLeftovers(*uni);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kServiceKey) + L"\\Parameters"));

    // A "Start" value of another type is a start value all the same: named, and the key stays.
    {
        win::Key key;
        ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, kServiceKey, KEY_ALL_ACCESS, RegView::Native, key), ERROR_SUCCESS);
        ASSERT_EQ(win::WriteString(key.get(), L"Start", L"3"), ERROR_SUCCESS);
    }
    RemoveRegistrationLeftovers(*uni);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kServiceKey) + L"\\Parameters"));
    EXPECT_NE(Logged().find("RemoveServiceKeyRemnant - HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\ZlSentry"
                            " has a \"Start\" value that is no REG_DWORD, key left alone\r\n"),
              std::string::npos)
        << Logged();
}

TEST_F(Leftovers, TheSuitesRegistrationsGoAnotherProductsStay)
{
    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kSuiteClass + L"\\InprocServer32", RegView::Bit32);
    MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kForeignClass + L"\\InprocServer32", RegView::Bit32);
    MakeKey(HKEY_LOCAL_MACHINE, kRunKey, RegView::Native, L"ZTray");
    MakeKey(HKEY_LOCAL_MACHINE, kRunKey, RegView::Native, L"CloudwardSplash");
    MakeKey(HKEY_LOCAL_MACHINE, kRunKey, RegView::Native, L"OtherProductTray");
    MakeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\QLCore\\Engines\\Main");
    MakeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent");
    MakeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\OtherProduct", RegView::Native, L"Owner");
    // The firewall API package's key, which its own uninstaller may leave.
    const std::wstring firewallApi = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Firewall API";
    MakeKey(HKEY_LOCAL_MACHINE, firewallApi, RegView::Native, L"UninstallString");
    ASSERT_TRUE(uni->FindComponents());

    RemoveRegistrationLeftovers(*uni);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kSuiteClass, RegView::Bit32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kClasses) + kForeignClass + L"\\InprocServer32",
                          RegView::Bit32));
    EXPECT_FALSE(ValueExists(kRunKey, L"ZTray"));
    EXPECT_FALSE(ValueExists(kRunKey, L"CloudwardSplash"));
    EXPECT_TRUE(ValueExists(kRunKey, L"OtherProductTray"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\QLCore"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices"));
    EXPECT_TRUE(ValueExists(L"SOFTWARE\\Zelmar\\OtherProduct", L"Owner"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, firewallApi));
    const std::string log = Logged();
    EXPECT_NE(log.find("deleting the Tray application launch command to the run key.\r\n"
                       "Deleting key: SOFTWARE\\Zelmar\\ManagedServices\r\n"),
              std::string::npos)
        << log;

    // A value of another product keeps the maker key too; once that is gone,
    // the empty key goes with the next run.
    win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\OtherProduct", RegView::Native);
    MakeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", RegView::Native, L"OtherProductOwner");
    RemoveRegistrationLeftovers(*uni);
    EXPECT_TRUE(ValueExists(L"SOFTWARE\\Zelmar", L"OtherProductOwner"));
    {
        win::Key zelmar;
        ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", KEY_ALL_ACCESS, RegView::Native, zelmar),
                  ERROR_SUCCESS);
        RegDeleteValueW(zelmar.get(), L"OtherProductOwner");
    }
    RemoveRegistrationLeftovers(*uni);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar"));
}

// --- Web-safety Installer records ------------------------------------------------------

TEST(InstallerCodes, PackedAsWindowsInstallerPacksThem)
{
    EXPECT_EQ(PackedCode(L"{90120000-0030-0000-0000-0000000FF1CE}"), L"00002109030000000000000000F01FEC");
    EXPECT_EQ(PackedCode(L"{6d3b9a27-4c1e-4f80-9b2d-7e5a1c3f8b01}"), L"72A9B3D6E1C408F4B9D2E7A5C1F3B810");
    for (const wchar_t* bad : {L"", L"6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B01", L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B0}",
                               L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8BG1}", L"{6D3B9A27+4C1E-4F80-9B2D-7E5A1C3F8B01}"})
        EXPECT_EQ(PackedCode(bad), L"") << Narrow(bad);
    EXPECT_EQ(PackedCode(nullptr), L"");
}

TEST_F(Registrations, TheWebSafetyRecordsGoInBothViewsAndAnotherProductsStay)
{
    const std::wstring products = L"Installer\\Products\\";
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::wstring foreign = products + L"00002109030000000000000000F01FEC";
    MakeKey(HKEY_CLASSES_ROOT, products + PackedCode(kProductA) + L"\\SourceList");
    MakeKey(HKEY_CLASSES_ROOT, foreign);
    MakeKey(HKEY_LOCAL_MACHINE, uninstall + kProductA, RegView::Bit64);
    MakeKey(HKEY_LOCAL_MACHINE, uninstall + kProductA, RegView::Bit32);

    RemoveBrowserProtectionRegistrations(*uni);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, products + PackedCode(kProductA)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstall + kProductA, RegView::Bit64));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstall + kProductA, RegView::Bit32));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, foreign));
    win::DeleteTree(HKEY_CLASSES_ROOT, foreign, RegView::Native);
    const std::string key = "Installer\\Products\\72A9B3D6E1C408F4B9D2E7A5C1F3B810";
    EXPECT_NE(Logged().find("Trying to remove core NW specific reg key " + key + "...\r\nSuccessfully removed " + key +
                            "...\r\n"),
              std::string::npos)
        << Logged();
}

}  // namespace
