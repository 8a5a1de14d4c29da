// The removal layer on the real file system and registry of the test prefix:
// its verdicts as one table, and key trees that hold a registry link.
#include "Registry.h"
#include "Removal.h"
#include "Scratch.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using namespace testing_support;
using win::removal::Guard;
using win::removal::Verdict;

namespace {

bool IsWindows64()
{
#ifdef _WIN64
    return true;
#else
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
#endif
}

std::wstring ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return buffer;
}

const char* Name(Verdict v)
{
    switch (v) {
    case Verdict::Allowed: return "Allowed";
    case Verdict::Malformed: return "Malformed";
    case Verdict::DriveRoot: return "DriveRoot";
    case Verdict::Protected: return "Protected";
    case Verdict::InWindowsFolder: return "InWindowsFolder";
    case Verdict::ThroughLink: return "ThroughLink";
    case Verdict::Unverifiable: return "Unverifiable";
    }
    return "?";
}

struct Row {
    std::wstring path;
    Verdict standard;
    Verdict outsideWindows;
    std::wstring canonical = {};  // checked when given (without regard to case)
};

TEST(RemovalVerdicts, PathFormsAgainstBothGuards)
{
    wchar_t buffer[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    const std::wstring windows = buffer;
    GetSystemDirectoryW(buffer, MAX_PATH);
    const std::wstring system = buffer;
    GetTempPathW(MAX_PATH, buffer);
    std::wstring temp = buffer;
    temp.pop_back();
    const std::wstring programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    const std::wstring shortProgramFiles = ShortForm(programFiles);
    ASSERT_NE(shortProgramFiles.find(L'~'), std::wstring::npos) << "no short form of " << Narrow(programFiles);
    const std::wstring profile = ShellFolder(CSIDL_PROFILE);
    const std::wstring links = L"C:\\zltest-links";
    ASSERT_TRUE(FileExists(links + L"\\via\\Endpoint\\victim.txt")) << "the link fixture (links.sh) did not run";

    constexpr Verdict A = Verdict::Allowed, M = Verdict::Malformed, R = Verdict::DriveRoot, P = Verdict::Protected,
                      W = Verdict::InWindowsFolder, L = Verdict::ThroughLink;
    std::vector<Row> rows = {
        // Forms that name no plain local path.
        {L"", M, M},
        {L"relative\\folder", M, M},
        {L"C:folder", M, M},
        {L"\\Zelmar", M, M},
        {L"\\\\.\\" + windows + L"\\zl-victim", M, M},
        {L"\\\\.\\C:\\", M, M},
        {L"//./C:/Program Files", M, M},
        {L"\\\\?\\C:\\Zelmar", M, M},
        {L"\\??\\C:\\Zelmar", M, M},
        {L"\\\\server\\share\\Zelmar", M, M},
        {L"\\\\localhost\\C$\\Zelmar", M, M},
        {L"C:\\Program Files\\*", M, M},
        {L"C:\\Zel?mar", M, M},
        {L"C:\\Zelmar:stream", M, M},
        // Drive roots, however written.
        {L"C:\\", R, R},
        {L"c:/", R, R},
        {L"C:\\..", R, R},
        {windows + L"\\..", R, R},
        // Protected folders, and folders above them.
        {windows, P, W},
        {windows + L"\\", P, W},
        {system, P, W},
        {system + L"\\drivers", P, W},
        {windows + L"\\Installer", P, W},
        {windows + L"\\Sysnative\\drivers", P, W},
        {programFiles, P, P},
        {L"C:/Program Files/", P, P, L"C:\\Program Files"},
        {L"C:\\PROGRAM FILES.", P, P, L"C:\\Program Files"},
        {shortProgramFiles, P, P, programFiles},
        {programFiles + L"\\Common Files", P, P},
        {ShellFolder(CSIDL_COMMON_APPDATA), P, P},
        {L"C:\\users", P, P},
        {L"C:\\users\\Public", P, P},
        {profile, P, P},
        {profile + L"\\Desktop", P, P},
        {ShellFolder(CSIDL_APPDATA), P, P},
        {ShellFolder(CSIDL_PROGRAMS), P, P},
        {ShellFolder(CSIDL_COMMON_STARTUP), P, P},
        {temp, P, P},
        // Below protected folders.
        {windows + L"\\Temp\\zl-removal", A, W},
        {windows + L"\\zl-removal.dll", A, W},
        {programFiles + L"\\Zelmar\\Endpoint", A, A},
        {shortProgramFiles + L"\\Zelmar", A, A, programFiles + L"\\Zelmar"},
        {profile + L"\\AppData\\Roaming\\Zelmar", A, A},
        {temp + L"\\zl-removal", A, A},
        {L"C:\\Zelmar", A, A},
        {windows + L"2", A, A},
        // Links: any existing component, the last one too.
        {links + L"\\via\\Endpoint", L, L},
        {links + L"\\via\\Endpoint\\victim.txt", L, L},
        {links + L"\\install\\EndpointLink", L, L},
        {links + L"\\install\\Endpoint\\sub\\linked\\precious.txt", L, L},
        {links + L"\\install\\Endpoint", A, A},
    };
    if (IsWindows64()) {
        const std::wstring x86 = ShellFolder(CSIDL_PROGRAM_FILESX86);
        rows.push_back({x86, P, P});
        rows.push_back({ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86), P, P});
        rows.push_back({windows + L"\\SysWOW64", P, W});
        rows.push_back({x86 + L"\\Zelmar", A, A});
    }
    for (const Row& row : rows) {
        for (Guard guard : {Guard::Standard, Guard::OutsideWindows}) {
            const Verdict expected = guard == Guard::Standard ? row.standard : row.outsideWindows;
            const win::removal::Judgement j = win::removal::Judge(row.path, guard);
            EXPECT_EQ(j.verdict, expected) << "\"" << Narrow(row.path) << "\" under the "
                                           << (guard == Guard::Standard ? "standard" : "Windows-folder") << " guard: "
                                           << Name(j.verdict) << " instead of " << Name(expected) << " (as \""
                                           << Narrow(j.path) << "\")";
        }
        if (!row.canonical.empty()) {
            const std::wstring canonical = win::removal::Judge(row.path).path;
            EXPECT_EQ(_wcsicmp(canonical.c_str(), row.canonical.c_str()), 0)
                << Narrow(row.path) << " is \"" << Narrow(canonical) << "\"";
        }
    }
}

// A link goes itself, never what it leads to; its own path is judged without
// its last component, so a link is the one thing it removes.
TEST(RemovalLinks, ALinkGoesItselfAndNothingElse)
{
    using win::removal::InUse;
    using win::removal::Outcome;
    const std::wstring links = L"C:\\zltest-links", link = links + L"\\install\\Endpoint\\sub\\linked";
    ASSERT_TRUE(FileExists(links + L"\\target\\precious.txt")) << "the link fixture (links.sh) did not run";
    struct Case {
        std::wstring path;
        Outcome outcome;
        DWORD error;
    };
    const std::vector<Case> refusedOrLeft = {
        {L"linked", Outcome::Refused, win::removal::kRefusedMalformed},
        {links + L"\\via\\Endpoint", Outcome::Refused, win::removal::kRefusedLink},
        {links + L"\\install\\Endpoint\\sub\\linked\\..", Outcome::Refused, win::removal::kRefusedMalformed},
        {ShellFolder(CSIDL_PROFILE), Outcome::Refused, win::removal::kRefusedProtected},
        {links + L"\\install\\Endpoint", Outcome::Failed, ERROR_NOT_A_REPARSE_POINT},
        {links + L"\\install\\missing", Outcome::AlreadyAbsent, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : refusedOrLeft) {
        const win::removal::Record r = win::removal::RemoveLink(c.path, Guard::Standard, InUse::Fail);
        EXPECT_EQ(r.outcome, c.outcome) << Narrow(c.path);
        EXPECT_EQ(r.error, c.error) << Narrow(c.path);
        EXPECT_EQ(r.kind, win::removal::Kind::Link) << Narrow(c.path);
    }
    EXPECT_TRUE(FileExists(links + L"\\install\\Endpoint\\inner.txt"));

    // Windows removes the link at once; Wine cannot remove a folder link from
    // Windows code (docs/wine.md), so there it waits for the restart.
    const win::removal::Record now = win::removal::RemoveLink(link, Guard::Standard, InUse::Fail);
    EXPECT_EQ(now.path, link);
    EXPECT_TRUE(now.outcome == Outcome::Removed || (now.outcome == Outcome::Failed && FileExists(link)));
    if (now.outcome == Outcome::Failed) {
        // The pending list is put back afterwards, so the next restart of this prefix keeps the fixture.
        win::Key key;
        ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               KEY_QUERY_VALUE | KEY_SET_VALUE, win::RegView::Native, key),
                  ERROR_SUCCESS);
        std::vector<BYTE> saved(65536);
        DWORD bytes = static_cast<DWORD>(saved.size());
        const bool had = RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, saved.data(),
                                          &bytes) == ERROR_SUCCESS;
        const win::removal::Record later = win::removal::RemoveLink(link, Guard::Standard, InUse::LeaveForRestart);
        EXPECT_EQ(later.outcome, Outcome::LeftForRestart);
        if (had)
            RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ, saved.data(), bytes);
        else
            RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
    }
    EXPECT_TRUE(FileExists(links + L"\\target\\precious.txt")) << "the link's target lost its content";
    EXPECT_TRUE(FileExists(links + L"\\target\\Endpoint\\victim.txt"));
}

// A registry link below a tree goes itself; its target and the target's
// subkeys stay. This is how every tree removal of the programs walks.
TEST(RemovalKeys, TreeWithARegistryLinkRemovesTheLinkNotItsTarget)
{
    const win::RegView view = win::RegView::Bit64;  // the native tree, which the link names
    const std::wstring base = L"SOFTWARE\\ZelmarTests\\LinkTree";
    const std::wstring victim = L"SOFTWARE\\ZelmarTests\\LinkVictim";
    ScratchKey tree(HKEY_LOCAL_MACHINE, base, view);
    ScratchKey target(HKEY_LOCAL_MACHINE, victim, view);
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, victim + L"\\Deep", KEY_ALL_ACCESS, view, key), ERROR_SUCCESS);
    ASSERT_EQ(win::WriteString(key.get(), L"v", L"the other product's"), ERROR_SUCCESS);
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, base + L"\\Plain\\Below", KEY_ALL_ACCESS, view, key), ERROR_SUCCESS);
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\Evil").c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | view, nullptr, &raw,
                              nullptr),
              ERROR_SUCCESS);
    key.reset(raw);
    const std::wstring native = L"\\Registry\\Machine\\" + victim;
    ASSERT_EQ(RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(native.c_str()),
                             static_cast<DWORD>(native.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    key.reset();
    ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, base + L"\\Evil\\Deep", KEY_READ, view, key), ERROR_SUCCESS)
        << "the link does not lead to its target";
    key.reset();

    EXPECT_EQ(win::DeleteTree(HKEY_LOCAL_MACHINE, base, view), ERROR_SUCCESS);
    EXPECT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, base, KEY_READ, view, key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, victim + L"\\Deep", KEY_READ, view, key), ERROR_SUCCESS)
        << "the tree removal followed the link into its target";
    std::wstring value;
    EXPECT_EQ(win::ReadString(key.get(), L"v", value), ERROR_SUCCESS);
    EXPECT_EQ(value, L"the other product's");
}

// Every deletion reaches the one observer with its outcome and code.
TEST(RemovalObserver, SeesEachDeletionWithItsOutcome)
{
    struct Collector final : win::removal::Observer {
        std::vector<win::removal::Record> records;
        void Seen(const win::removal::Record& r) override { records.push_back(r); }
    } seen;
    ScratchDir scratch(L"removal-observer");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"tree").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch / L"tree\\a.txt", "a"));
    const std::wstring held = scratch / L"held.txt";
    ASSERT_TRUE(WriteFileBytes(held, "held"));
    win::Handle open(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open);

    win::removal::Observer* previous = win::removal::SetObserver(&seen);
    win::removal::RemoveFolderTree(scratch / L"tree", Guard::Standard, win::removal::InUse::Fail);
    win::removal::RemoveFile(scratch / L"missing.txt", Guard::Standard, win::removal::InUse::Fail);
    win::removal::RemoveFile(held, Guard::Standard, win::removal::InUse::Fail);
    win::removal::RemoveFolderTree(L"C:\\", Guard::Standard, win::removal::InUse::Fail);
    win::removal::RemoveValue(HKEY_CURRENT_USER, L"Software\\ZelmarTests\\NoSuchKey", win::RegView::Native, L"v");
    win::removal::SetObserver(previous);

    using K = win::removal::Kind;
    using O = win::removal::Outcome;
    struct Expected {
        K kind;
        O outcome;
        DWORD error;
    };
    const std::vector<Expected> expected = {{K::File, O::Removed, 0},
                                            {K::Folder, O::Removed, 0},
                                            {K::File, O::AlreadyAbsent, ERROR_FILE_NOT_FOUND},
                                            {K::File, O::Failed, ERROR_SHARING_VIOLATION},
                                            {K::Folder, O::Refused, ERROR_ACCESS_DENIED},
                                            {K::Value, O::AlreadyAbsent, ERROR_FILE_NOT_FOUND}};
    ASSERT_EQ(seen.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen.records[i].kind, expected[i].kind) << "record " << i;
        EXPECT_EQ(seen.records[i].outcome, expected[i].outcome) << "record " << i;
        EXPECT_EQ(seen.records[i].error, expected[i].error) << "record " << i;
    }
    EXPECT_EQ(seen.records[4].verdict, Verdict::DriveRoot);
    EXPECT_EQ(_wcsicmp(seen.records[0].path.c_str(), (scratch / L"tree\\a.txt").c_str()), 0);
}

}  // namespace
