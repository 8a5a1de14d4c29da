// The older suite's folder clean-up: the selective clean-up of a shared parent
// on scratch folders and junction-like links, and the whole step on the
// machine's real "Zelmar" folders.
#include "FileTree.h"
#include "FolderCleanup.h"
#include "PendingDeletions.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"
#include "Scratch.h"
#include "ServiceAccount.h"
#include "UserHives.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using namespace testing_support;

namespace {

constexpr const wchar_t* kOwned[] = {L"ZPF", L"data", nullptr};
// Near the installer's temporary names, not theirs.
constexpr const wchar_t* kNotTemporary[] = {L"TVO12.TMP", L"TVO12345.TMP", L"TVO0003.TMPX", L"XTVO0004.TMP"};

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A folder with a file two levels down, so that only a tree deletion removes it.
void MakeTree(const std::wstring& folder)
{
    SHCreateDirectoryExW(nullptr, (folder + L"\\inner").c_str(), nullptr);
    WriteFileBytes(folder + L"\\inner\\content.txt", "content");
}

std::wstring Expanded(const wchar_t* variable)
{
    wchar_t buffer[MAX_PATH] = {};
    ExpandEnvironmentStringsW(variable, buffer, MAX_PATH);
    return buffer;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// A removal object logging into the scratch folder.
class FolderCleanup : public ::testing::Test {
protected:
    ScratchDir dir{L"folders"};
    std::unique_ptr<reloUni> uni = MakeUni();

    std::unique_ptr<reloUni> MakeUni(const wchar_t* commandLine = L"Uprooter.exe")
    {
        auto made = std::make_unique<reloUni>();
        made->Log() = dir / L"run.log";
        made->Log().Open();
        made->logdataClobber(commandLine);
        return made;
    }
    std::string Logged() const { return ReadFileBytes(dir / L"run.log"); }
};

TEST_F(FolderCleanup, ForeignSubfolderOrFileKeepsTheParent)
{
    const std::wstring parent = dir / L"Zelmar";
    MakeTree(parent + L"\\ZPF");
    MakeTree(parent + L"\\Other Product");
    EXPECT_FALSE(uni->safeCleanFolder(parent, kOwned));
    EXPECT_FALSE(IsFolder(parent + L"\\ZPF"));
    EXPECT_TRUE(FileExists(parent + L"\\Other Product\\inner\\content.txt"));
    EXPECT_NE(Logged().find("The subdirectory " + Narrow(parent) + "\\Other Product will not be deleted!"),
              std::string::npos)
        << Logged();

    const std::wstring withFile = dir / L"WithFile";
    MakeTree(withFile + L"\\data");
    WriteFileBytes(withFile + L"\\stray.txt", "stray");
    EXPECT_FALSE(uni->safeCleanFolder(withFile, kOwned));
    EXPECT_FALSE(IsFolder(withFile + L"\\data"));
    EXPECT_TRUE(FileExists(withFile + L"\\stray.txt"));

    // No list keeps every subfolder.
    MakeTree(withFile + L"\\ZPF");
    const wchar_t* none[] = {nullptr};
    EXPECT_FALSE(uni->safeCleanFolder(withFile, none));
    EXPECT_TRUE(IsFolder(withFile + L"\\ZPF"));
}

TEST_F(FolderCleanup, OwnedNamesMatchWithoutCase)
{
    const std::wstring parent = dir / L"Zelmar\\";
    MakeTree(parent + L"DATA");
    MakeTree(parent + L"zpf");
    EXPECT_TRUE(uni->safeCleanFolder(parent, kOwned));
    EXPECT_FALSE(IsFolder(parent + L"DATA"));
    EXPECT_FALSE(IsFolder(parent + L"zpf"));
    EXPECT_NE(Logged().find("Checking if DATA is a match with data"), std::string::npos) << Logged();
}

TEST_F(FolderCleanup, JunctionLikeFoldersAreNeitherEnteredNorDeleted)
{
    const std::wstring root = L"C:\\zltest-folderlinks";
    const std::wstring link = root + L"\\parent\\Linked";
    const std::wstring linkedParent = root + L"\\linkedparent";
    ASSERT_TRUE(FileExists(root + L"\\target\\precious.txt")) << "the link fixture (folder_links.sh) did not run";
    for (const auto& path : {link, linkedParent}) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);
        ASSERT_EQ(GetFileAttributesW(path.c_str()), 0x416u) << Narrow(path);
    }
    // Skipped without failing its parent, which would otherwise count it foreign.
    MakeTree(root + L"\\parent\\ZPF");
    EXPECT_TRUE(uni->safeCleanFolder(root + L"\\parent", kOwned));
    EXPECT_FALSE(IsFolder(root + L"\\parent\\ZPF"));
    EXPECT_EQ(GetFileAttributesW(link.c_str()), 0x416u);
    EXPECT_TRUE(FileExists(link + L"\\precious.txt"));

    EXPECT_FALSE(uni->safeCleanFolder(linkedParent, kOwned));
    EXPECT_TRUE(FileExists(root + L"\\target2\\ZPF\\precious.txt"));
    EXPECT_NE(Logged().find("The folder " + Narrow(linkedParent) + " is a junction point."), std::string::npos);
    uni->removeRogueTVOTmpFolders(linkedParent);
    EXPECT_NE(Logged().find("removeRogueTVOTmpFolders - The folder " + Narrow(linkedParent) + " is a junction point."),
              std::string::npos);
}

TEST_F(FolderCleanup, OnlyTheInstallersTemporaryNamesGo)
{
    const std::wstring parent = dir / L"Zelmar";
    MakeTree(parent + L"\\TVO0001.TMP");
    WriteFileBytes(parent + L"\\tvo0002.tmp", "temporary");
    SetFileAttributesW((parent + L"\\tvo0002.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    for (const wchar_t* kept : kNotTemporary) MakeTree(parent + L"\\" + kept);
    uni->removeRogueTVOTmpFolders(parent);
    EXPECT_FALSE(IsFolder(parent + L"\\TVO0001.TMP"));
    EXPECT_FALSE(FileExists(parent + L"\\tvo0002.tmp"));
    for (const wchar_t* kept : kNotTemporary) {
        EXPECT_TRUE(FileExists(parent + L"\\" + kept + L"\\inner\\content.txt")) << Narrow(kept);
    }
}

// The machine's shared folders: what a test adds is removed again, and a
// parent only when the test made it; the restart's deletion list is restored.
class MachineFolders : public FolderCleanup {
protected:
    PendingList pending;
    const std::wstring programFiles = Expanded(L"%ProgramFiles%") + L"\\Zelmar";
    const std::wstring data = DataFolder() + L"\\Zelmar";
    const std::wstring profile = ProfilesFolder() + L"\\ZelmarMQLUser";

    ~MachineFolders() override
    {
        for (const auto& path : made_) win::RemoveTree(path);
    }
    // A tree below parent, with the parent made (and removed afterwards) if missing.
    void Add(const std::wstring& parent, const std::wstring& name)
    {
        if (!IsFolder(parent)) made_.push_back(parent);
        made_.push_back(parent + L"\\" + name);
        MakeTree(parent + L"\\" + name);
    }

private:
    static std::wstring DataFolder()
    {
        wchar_t buffer[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
        return buffer;
    }
    static std::wstring ProfilesFolder()
    {
        wchar_t buffer[kUserHiveChars] = {};
        GetProfilesFolder(L"ROOT", buffer);
        return buffer;
    }
    std::vector<std::wstring> made_;
};

TEST_F(MachineFolders, ProgramFolderKeepsForeignProducts)
{
    for (const wchar_t* name : {L"Managed Quellor", L"Data", L"TVO0001.TMP", L"Other Product"}) Add(programFiles, name);
    uni->CleanMisDirectories();
    EXPECT_FALSE(IsFolder(programFiles + L"\\Managed Quellor"));
    EXPECT_FALSE(IsFolder(programFiles + L"\\Data"));
    EXPECT_FALSE(IsFolder(programFiles + L"\\TVO0001.TMP"));
    EXPECT_TRUE(FileExists(programFiles + L"\\Other Product\\inner\\content.txt"));

    win::RemoveTree(programFiles + L"\\Other Product");
    Add(programFiles, L"Temp");
    uni->CleanMisDirectories();
    EXPECT_FALSE(IsFolder(programFiles)) << Logged();
}

// Every folder in the profiles folder is protected by the removal layer, so
// the service account's profile stays; the step neither fails nor goes around it.
// A look-up that finds the service account (with a SID Wine knows), as long as it exists.
BOOL WINAPI AccountStillThere(LPCWSTR, LPCWSTR, PSID sid, LPDWORD sidBytes, LPWSTR domain, LPDWORD domainChars,
                              PSID_NAME_USE use)
{
    return LookupAccountNameW(nullptr, L"Everyone", sid, sidBytes, domain, domainChars, use);
}

// The removal layer protects every profile folder: the service account's own
// goes only once the account is gone (Wine knows no such account).
TEST_F(MachineFolders, ServiceProfileGoesOnlyOnceTheAccountIsGone)
{
    Add(profile, L"Local Settings");
    AccountCalls calls = SetAccountCalls({});
    SetAccountCalls({&AccountStillThere, calls.openPolicy, calls.removeAccountRights, calls.userDel});
    removeMQLUserDroppings(*uni);
    SetAccountCalls(calls);
    EXPECT_TRUE(FileExists(profile + L"\\Local Settings\\inner\\content.txt"));
    EXPECT_NE(Logged().find("Cleaning up ZelmarMQLUser profile dir\r\nNukedir - Refused to delete directory " +
                            Narrow(profile)),
              std::string::npos)
        << Logged();

    removeMQLUserDroppings(*uni);
    EXPECT_FALSE(IsFolder(profile)) << Logged();
    // Only while it was removed: the place is protected again.
    ASSERT_TRUE(CreateDirectoryW(profile.c_str(), nullptr));
    EXPECT_EQ(win::removal::Judge(profile).verdict, win::removal::Verdict::Protected);
}

TEST_F(MachineFolders, SharedDataFolderOnlyWithCompleteCleanup)
{
    for (const wchar_t* name : {L"ZLLOGS", L"SyscoreLogs", L"Other Product"}) Add(data, name);
    uni->CleanMisDirectories();
    EXPECT_TRUE(FileExists(data + L"\\ZLLOGS\\inner\\content.txt"));
    EXPECT_TRUE(FileExists(data + L"\\SyscoreLogs\\inner\\content.txt"));
    EXPECT_NE(Logged().find("CleanMisDirectories - Skipping log folder."), std::string::npos);
    EXPECT_EQ(Logged().find("Cleaning data from CSIDL_COMMON_APPDATA"), std::string::npos);

    uni = MakeUni(L"Uprooter.exe -a");
    uni->CleanMisDirectories();
    EXPECT_FALSE(IsFolder(data + L"\\ZLLOGS"));
    EXPECT_FALSE(IsFolder(data + L"\\SyscoreLogs"));
    EXPECT_TRUE(FileExists(data + L"\\Other Product\\inner\\content.txt"));
}

TEST_F(MachineFolders, CommonFilesPassesFollowTheWindowsBitness)
{
    const std::wstring common = Expanded(L"%CommonProgramFiles%") + L"\\Zelmar";
    Add(common, L"Core");
    Add(common, L"ZuzadaZozi");
    WriteFileBytes(common + L"\\ZuzadaZozi\\trust_catcache", "cache");
    const std::wstring native = Expanded(L"%CommonProgramW6432%") + L"\\Zelmar";
    if (IsWow64()) {
        ASSERT_NE(native, common);
        Add(native, L"installer");
    }
    uni->CleanMisDirectories();
    const std::string log = Logged();
    EXPECT_FALSE(IsFolder(common + L"\\Core"));
    EXPECT_FALSE(IsFolder(common + L"\\ZuzadaZozi"));
    EXPECT_EQ(Count(log, "Pre-deletion of file: " + Narrow(common) + "\\ZuzadaZozi\\trust_catcache"), 1u) << log;
    EXPECT_NE(PendingList::Position(common + L"\\ZuzadaZozi\\trust_catcache"), std::wstring::npos);
    EXPECT_EQ(Count(log, "Searching for Zelmar subfolder in"), 1u);
    const size_t x64Passes = IsWow64() ? 1 : 0;
    EXPECT_EQ(Count(log, "Processing x64 zuzadazozi files"), x64Passes) << log;
    EXPECT_EQ(Count(log, "Expanded %CommonProgramFiles(x86)% to ["), x64Passes);
    if (IsWow64()) {
        EXPECT_FALSE(IsFolder(native + L"\\installer"));
        // Registered for the restart only when it is there: a path registered
        // before it exists could be made a link to anything by the restart.
        EXPECT_EQ(PendingList::Position(native + L"\\ZuzadaZozi\\trust_catcache"), std::wstring::npos);
    }
}

// 64-bit Windows before Windows 7 have no "CommonProgramW6432": the second
// pass takes the 64-bit Common Files from the registry's 64-bit view.
TEST_F(MachineFolders, SecondCommonFilesPassWithoutTheWindows7Variable)
{
    if (!IsWow64()) GTEST_SKIP() << "only 64-bit Windows has the second pass";
    const std::wstring native = Expanded(L"%CommonProgramW6432%");
    win::Key key;
    wchar_t recorded[MAX_PATH] = {};
    ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ,
                           win::RegView::Bit64, key),
              ERROR_SUCCESS);
    ASSERT_EQ(win::ReadStringInto(key.get(), L"CommonFilesDir", recorded, MAX_PATH), ERROR_SUCCESS);
    ASSERT_EQ(_wcsicmp(recorded, native.c_str()), 0) << "the registry and the variable disagree";
    Add(native + L"\\Zelmar", L"installer");
    SetEnvironmentVariableW(L"CommonProgramW6432", nullptr);
    uni->CleanMisDirectories();
    SetEnvironmentVariableW(L"CommonProgramW6432", native.c_str());
    const std::string log = Logged();
    EXPECT_EQ(Count(log, "Expanded %CommonProgramW6432% to [" + Narrow(native) + "]"), 1u) << log;
    EXPECT_FALSE(IsFolder(native + L"\\Zelmar\\installer"));
}

}  // namespace
