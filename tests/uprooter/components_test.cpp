// Component discovery, the search path and the suite's own uninstallers, with
// real keys, real folders under Program Files and recording stand-ins.
#include "ComponentStage.h"
#include "PendingDeletions.h"
#include "PlatformInfo.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

constexpr wchar_t kMain[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kComponents[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\";
constexpr wchar_t kCore[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi";
const std::string kDrivers = " -u zlmhid.sys zlmflt.sys zlmnet.sys";

// Keys below SOFTWARE\Zelmar made by a test, and the empty Zelmar key after.
struct ZelmarKeys {
    std::vector<std::unique_ptr<ScratchKey>> keys;
    void Make(const std::wstring& path) { keys.push_back(std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, path)); }
    ~ZelmarKeys()
    {
        keys.clear();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar");
    }
};

class Components : public ::testing::Test, public ComponentStage {
protected:
    ZelmarKeys keys;
    std::unique_ptr<reloUni> uni = MakeUni();
};

TEST_F(Components, DiscoveryLogsTheRegisteredComponentsInTableOrder)
{
    keys.Make(kMain);
    keys.Make(std::wstring(kComponents) + L"BrowseProtection");
    keys.Make(std::wstring(kComponents) + L"QuellorRelo");
    EXPECT_TRUE(uni->FindComponents());
    EXPECT_TRUE(uni->AntiVirusFound());
    EXPECT_NE(uni->MainKey(), nullptr);
    EXPECT_NE(Logged().find("Finding components: \r\n\t\tAnti-Virus & Anti-Spyware\r\n\t\tBrowser Protection\r\n"
                            "Other components may be present but in a semi-complete state, will attempt uninstall "
                            "of all components.\r\n"),
              std::string::npos)
        << Logged();
}

TEST_F(Components, DiscoveryWithoutComponentsOrWithoutTheMainKey)
{
    EXPECT_FALSE(uni->FindComponents());
    EXPECT_EQ(uni->InstallFolder(), install);
    EXPECT_EQ(Logged().find("Finding"), std::string::npos);

    keys.Make(kMain);
    keys.Make(std::wstring(kComponents) + L"Other");
    EXPECT_TRUE(uni->FindComponents());
    EXPECT_FALSE(uni->AntiVirusFound());
    EXPECT_NE(Logged().find("Finding components: \r\nOther components"), std::string::npos) << Logged();
}

// PATH for the life of a test, restored afterwards.
struct SavedPath {
    std::wstring value = std::wstring(32767, L'\0');
    SavedPath() { value.resize(GetEnvironmentVariableW(L"PATH", value.data(), 32767)); }
    ~SavedPath() { SetEnvironmentVariableW(L"PATH", value.c_str()); }
    static std::wstring Now()
    {
        std::wstring now(32767, L'\0');
        now.resize(GetEnvironmentVariableW(L"PATH", now.data(), 32767));
        return now;
    }
};

TEST_F(Components, SearchPathGainsTheProgramFoldersInOrderAlsoWithoutPath)
{
    SavedPath saved;
    const std::wstring folders =
        L";" + install + L"\\Qengine;" + install + L"\\Firewall;" + install + L"\\Agent;" + install + L"\\Shared";
    uni->FindComponents();

    SetEnvironmentVariableW(L"PATH", nullptr);
    uni->ExtendSearchPath();
    EXPECT_EQ(SavedPath::Now(), folders);
    EXPECT_EQ(uni->SavedSearchPath(), L"");
    EXPECT_NE(Logged().find("setting new path as " + Narrow(folders) + "\r\n"), std::string::npos) << Logged();

    SetEnvironmentVariableW(L"PATH", L"C:\\first;C:\\second");
    uni->ExtendSearchPath();
    EXPECT_EQ(SavedPath::Now(), L"C:\\first;C:\\second" + folders);
    EXPECT_EQ(uni->SavedSearchPath(), L"C:\\first;C:\\second");
}

TEST_F(Components, UninstallersRunInOrderWithTheirCommandLinesAndTheCacheGoes)
{
    keys.Make(kMain);
    keys.Make(kCore);
    const std::wstring filterTool = Stage(L"Qengine\\olaavfin.exe");
    const std::wstring installer32 = Stage(L"Qengine\\zlmhidin.exe");
    const std::wstring installer64 = Stage(L"Qengine64\\zlmhidin.exe");
    const std::wstring core = Place(cache, L"zlmhidin.exe");
    WriteFileBytes(cache + L"\\grds.xml", "<x/>");
    const std::wstring installer = IsWow64() ? installer64 : installer32;
    const std::string shortCore = Narrow(ShortPath(core));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);

    uni->FindComponents();
    uni->RunComponentUninstallers();

    EXPECT_EQ(Recorded(),
              (Lines{"olaavfin.exe: short " + Narrow(ShortPath(filterTool)) + "  -u",
                     "zlmhidin.exe: short " + Narrow(ShortPath(installer)) + " " + kDrivers,
                     "zlmhidin.exe: long \"" + Narrow(installer) + "\" " + kDrivers,
                     "zlmhidin.exe: short " + shortCore + " -u AGSQUELLOR -l \"" + Narrow(temp) +
                         "AGSQUELLOR_Uninstall.log\" -x grds.xml OAS ScriptScan EmailScan"}));
    const std::string log = Logged();
    EXPECT_NE(log.find("Launching " + Narrow(installer) + kDrivers + "\r\n"), std::string::npos) << log;
    // The cache goes through Nukedir, each step in the run log.
    EXPECT_NE(log.find("Deleting SYSCORE install cache " + Narrow(cache) + "\r\nNukedir - Begin deletion of directory " +
                       Narrow(cache) + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(installer));  // the suite's folders are the folder clean-up's
}

TEST_F(Components, WithoutTheCoreKeyOnlyTheCoreProgramGoes)
{
    keys.Make(kMain);
    const std::wstring core = Place(cache, L"zlmhidin.exe");
    const std::string shortCore = Narrow(ShortPath(core));
    WriteFileBytes(cache + L"\\grds.xml", "<x/>");

    uni->FindComponents();
    uni->RunComponentUninstallers();

    ASSERT_EQ(Recorded().size(), 1u);  // no filter tool, no driver installer: not started
    EXPECT_EQ(Recorded()[0].rfind("zlmhidin.exe: short " + shortCore + " -u AGSQUELLOR", 0), 0u);
    EXPECT_FALSE(FileExists(core));
    EXPECT_TRUE(FileExists(cache + L"\\grds.xml"));
    EXPECT_EQ(Logged().find("Deleting SYSCORE"), std::string::npos);

    // A core program that is loaded is moved aside: its name is free at once,
    // and the moved file waits for the restart.
    Place(cache, L"zlmhidin.exe");
    PendingList pending;
    {
        win::Module loaded(LoadLibraryExW(core.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
        ASSERT_TRUE(loaded);
        ASSERT_FALSE(DeleteFileW(core.c_str())) << "a loaded program can be deleted here";
        uni->RunComponentUninstallers();
    }
    EXPECT_FALSE(FileExists(core));
    WIN32_FIND_DATAW data;
    win::FindHandle aside(FindFirstFileW((cache + L"\\uni*.tmp").c_str(), &data));
    EXPECT_TRUE(aside) << "not moved aside in its folder";
    EXPECT_EQ(Logged().find("pending operation set"), std::string::npos) << Logged();
}

// CommonFilesDir taken away for the life of a test (32-bit view, as Uprooter
// reads it) and put back as it was.
class WithoutCommonFiles {
public:
    WithoutCommonFiles()
    {
        win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_ALL_ACCESS,
                     win::RegView::Native, key_);
        DWORD size = sizeof(value_);
        RegQueryValueExW(key_.get(), L"CommonFilesDir", nullptr, &type_, reinterpret_cast<BYTE*>(value_), &size);
        size_ = size;
        Remove();
    }
    // Again after a child program started: Wine's process start writes the value back.
    void Remove() { RegDeleteValueW(key_.get(), L"CommonFilesDir"); }
    ~WithoutCommonFiles()
    {
        RegSetValueExW(key_.get(), L"CommonFilesDir", 0, type_, reinterpret_cast<const BYTE*>(value_), size_);
    }

private:
    win::Key key_;
    DWORD type_ = REG_SZ, size_ = 0;
    wchar_t value_[MAX_PATH] = {};
};

TEST_F(Components, CoreFolderFromTheRegistryOfThisBitnessAndAHostileOneRefused)
{
    keys.Make(kMain);
    keys.Make(kCore);
    // A core folder among the suite's folders; another one elsewhere.
    const std::wstring mine = install + L"\\Core", other = dir / L"other";
    Place(mine, L"zlmhidin.exe");
    Place(other, L"zlmhidin.exe");
    const bool wow64 = IsWow64();
    win::WriteString(keys.keys.back()->get(), wow64 ? L"szInstallDir64" : L"szInstallDir32", mine);
    win::WriteString(keys.keys.back()->get(), wow64 ? L"szInstallDir32" : L"szInstallDir64", other);
    WithoutCommonFiles noCommonFiles;

    std::wstring path = L"stale";
    EXPECT_FALSE(uni->GetCoreCacheDir(path));
    EXPECT_TRUE(uni->GetSyscoreDir(path));
    EXPECT_EQ(path, mine);
    uni->RunComponentUninstallers();
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0].rfind("zlmhidin.exe: short " + Narrow(ShortPath(mine + L"\\zlmhidin.exe")), 0), 0u);
    std::string log = Logged();
    EXPECT_NE(log.find("Could not find value CommonFilesDir\r\nOpened key SOFTWARE\\Zelmar\\ZuzadaZozi\r\n"
                       "GetSyscoreDir - found value to be " + Narrow(mine) + "\r\n"),
              std::string::npos)
        << log;

    // A folder outside the suite's, though no protected one, starts nothing.
    win::WriteString(keys.keys.back()->get(), wow64 ? L"szInstallDir64" : L"szInstallDir32", other);
    noCommonFiles.Remove();
    uni->RunComponentUninstallers();
    EXPECT_EQ(Recorded().size(), 1u);
    EXPECT_NE(Logged().find("zlmhidin.exe: outside the folders it may lie in\r\n"), std::string::npos) << Logged();

    // A drive root is no suite folder: a program planted there is not run.
    const std::wstring planted = L"C:\\zlmhidin.exe";
    Place(L"C:", L"zlmhidin.exe");
    win::WriteString(keys.keys.back()->get(), wow64 ? L"szInstallDir64" : L"szInstallDir32", L"C:\\");
    noCommonFiles.Remove();
    uni->RunComponentUninstallers();
    EXPECT_EQ(Recorded().size(), 1u);
    EXPECT_NE(Logged().find("reloUni::RunComponentUninstallers - refusing core folder C:\\\r\n"), std::string::npos)
        << Logged();
    DeleteFileW(planted.c_str());

    // A value that is no text reads as nothing.
    RegSetValueExW(keys.keys.back()->get(), wow64 ? L"szInstallDir64" : L"szInstallDir32", 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>(L"C:\\x"), 8);
    EXPECT_FALSE(uni->GetSyscoreDir(path));
    EXPECT_EQ(path, L"");
}

}  // namespace
