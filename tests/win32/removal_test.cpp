// The removal layer on the real file system and registry of the test prefix:
// its verdicts as one table, and key trees that hold a registry link.
#include "Launch.h"
#include "Registry.h"
#include "Removal.h"
#include "Scratch.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <userenv.h>

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

// A lifted protection: one folder among the profiles may go, with what is in
// it, for the lift's life; the profiles folder and another profile stay
// protected, and a folder reached through a link is never lifted.
TEST(RemovalVerdicts, ALiftedProtectionHoldsForOneFolderOnly)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    ASSERT_TRUE(GetProfilesDirectoryW(buffer, &chars));
    const std::wstring profiles = buffer;
    const std::wstring account = profiles + L"\\zltest-account-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(account.c_str(), nullptr));
    EXPECT_EQ(win::removal::Judge(account).verdict, Verdict::Protected);
    {
        win::removal::ProtectionLift lift(account);
        EXPECT_TRUE(lift.active());
        EXPECT_EQ(win::removal::Judge(account).verdict, Verdict::Allowed);
        EXPECT_EQ(win::removal::Judge(account + L"\\NTUSER.DAT").verdict, Verdict::Allowed);
        EXPECT_EQ(win::removal::Judge(profiles).verdict, Verdict::Protected);
        EXPECT_EQ(win::removal::Judge(profiles + L"\\Public").verdict, Verdict::Protected);
        EXPECT_FALSE(win::removal::ProtectionLift(profiles).active()) << "one lift at a time";
    }
    EXPECT_EQ(win::removal::Judge(account).verdict, Verdict::Protected) << "the lift outlived its scope";
    EXPECT_FALSE(win::removal::ProtectionLift(L"C:\\zltest-links\\via\\Endpoint").active()) << "through a link";
    RemoveDirectoryW(account.c_str());
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

// A folder of the tree swapped for a link after it was listed and before its
// files go (links.sh lays the spare link): every file is deleted through a
// handle whose final path must still lie in the tree, so the link's target
// keeps its content. (Windows XP lacks the final-path query; there the
// judgement of each path stands alone.)
std::wstring FromUtf8(const char* text)
{
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(wide.size() - 1);
    return wide;
}

// Moves a file, folder or link itself from the Linux side: Windows code under
// Wine moves what a folder link leads to (docs/wine.md).
bool MoveItself(const std::wstring& from, const std::wstring& to)
{
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    auto unixName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
    char* source = unixName ? unixName(from.c_str()) : nullptr;
    char* target = unixName ? unixName(to.c_str()) : nullptr;
    if (source && target)
        RunAndWait(L"\"\\\\?\\unix\\bin\\mv\" \"" + FromUtf8(source) + L"\" \"" + FromUtf8(target) + L"\"");
    HeapFree(GetProcessHeap(), 0, source);
    HeapFree(GetProcessHeap(), 0, target);
    // A host program is reported gone at once: wait for its work.
    for (int tries = 0; tries < 50 && GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES; ++tries) Sleep(100);
    return GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class SwapDuringTheWalk : public win::removal::TreeListener {
public:
    explicit SwapDuringTheWalk(const std::wstring& area) : area_(area) {}
    bool Entering(const std::wstring& path, bool folder) override
    {
        if (folder && path == area_ + L"\\tree\\sub" && !swapped_)
            swapped_ = MoveItself(path, area_ + L"\\away") && MoveItself(area_ + L"\\spare", path) &&
                       (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
        return true;
    }
    void Done(const win::removal::Record& record) override { records_.push_back(record); }
    bool swapped_ = false;
    std::vector<win::removal::Record> records_;

private:
    std::wstring area_;
};

TEST(RemovalLinks, AFolderSwappedForALinkDuringTheWalkLeadsNowhere)
{
    const std::wstring area = L"C:\\zltest-links\\swap";
    ASSERT_TRUE(FileExists(area + L"\\tree\\sub\\own.txt")) << "the link fixture (links.sh) did not run";
    SwapDuringTheWalk swap(area);
    win::removal::RemoveFolderTree(area + L"\\tree", Guard::Standard, win::removal::InUse::Fail, &swap);
    ASSERT_TRUE(swap.swapped_);
    EXPECT_TRUE(FileExists(area + L"\\victim\\precious.txt")) << "deleted through the swapped-in link";
    EXPECT_TRUE(FileExists(area + L"\\victim\\inner\\victim.txt"));
    bool refused = false;
    for (const win::removal::Record& r : swap.records_)
        if (r.path == area + L"\\tree\\sub\\precious.txt")
            refused = r.outcome == win::removal::Outcome::Refused && r.verdict == Verdict::ThroughLink;
    EXPECT_TRUE(refused) << "the file reached through the link is refused as a link";
    EXPECT_TRUE(FileExists(area + L"\\away\\own.txt")) << "the folder moved away was never reached";
    // Put back for another run in this prefix.
    MoveItself(area + L"\\tree\\sub", area + L"\\spare");
    MoveItself(area + L"\\away", area + L"\\tree\\sub");
}

// The start and load layer's verdicts: only an existing file by its full
// local path, with no link on it, inside the folders given.
TEST(LaunchVerdicts, ProgramsAndLibraries)
{
    namespace launch = win::launch;
    const std::wstring system = launch::SystemFolder(), cmd = launch::SystemFile(L"cmd.exe");
    const std::wstring links = L"C:\\zltest-links";
    ASSERT_TRUE(FileExists(links + L"\\target\\precious.txt")) << "the link fixture (links.sh) did not run";
    struct Row {
        std::wstring path;
        std::vector<std::wstring> folders;
        launch::Verdict verdict;
    };
    const std::vector<Row> rows = {
        {cmd, {}, launch::Verdict::Allowed},
        {cmd, {system}, launch::Verdict::Allowed},
        {ShortForm(cmd), {system}, launch::Verdict::Allowed},
        {L"cmd.exe", {}, launch::Verdict::Malformed},
        {L"\"" + cmd + L"\"", {}, launch::Verdict::Malformed},
        {cmd + L" /c", {}, launch::Verdict::Missing},
        {L"\\\\?\\" + cmd, {}, launch::Verdict::Malformed},
        {system, {}, launch::Verdict::Missing},
        {system + L"\\zl-missing.exe", {}, launch::Verdict::Missing},
        {links + L"\\via\\precious.txt", {}, launch::Verdict::ThroughLink},
        {links + L"\\install\\EndpointLink\\precious.txt", {links}, launch::Verdict::ThroughLink},
        {links + L"\\target\\precious.txt", {links + L"\\install"}, launch::Verdict::Outside},
        {links + L"\\target\\precious.txt", {links + L"\\targ"}, launch::Verdict::Outside},
        {cmd, {ShellFolder(CSIDL_PROGRAM_FILES)}, launch::Verdict::Outside},
    };
    for (const Row& row : rows)
        EXPECT_EQ(launch::Judge(row.path, row.folders).verdict, row.verdict) << Narrow(row.path);
}

// Command lines taken apart as Windows reads them, but never at a blank
// before ".exe"; bare tool names are the system folder's.
TEST(LaunchVerdicts, CommandLinesSplit)
{
    namespace launch = win::launch;
    struct Row {
        std::wstring line;
        bool split;
        std::wstring program, rest;
    };
    const std::wstring msiexec = launch::SystemFile(L"MsiExec.exe");
    const std::vector<Row> rows = {
        {L"MsiExec.exe /X{1}", true, msiexec, L" /X{1}"},
        {L"msiexec /x a", true, launch::SystemFile(L"msiexec.exe"), L" /x a"},
        {L"C:\\Program Files\\X Y\\un.exe /S /T", true, L"C:\\Program Files\\X Y\\un.exe", L" /S /T"},
        {L"C:\\Program Files\\X Y\\un.EXE", true, L"C:\\Program Files\\X Y\\un.EXE", L""},
        {L"\"C:\\Program Files\\un.exe\" /S", true, L"C:\\Program Files\\un.exe", L" /S"},
        {L"  C:\\a\\b.exe", true, L"C:\\a\\b.exe", L""},
        {L"C:\\Program Files\\un /S", false, L"", L""},
        {L"\"C:\\un.exe /S", false, L"", L""},
        {L"\"\" /S", false, L"", L""},
        {L"   ", false, L"", L""},
    };
    for (const Row& row : rows) {
        launch::CommandLine line;
        EXPECT_EQ(launch::Split(row.line, line), row.split) << Narrow(row.line);
        if (!row.split) continue;
        EXPECT_EQ(line.program, row.program) << Narrow(row.line);
        EXPECT_EQ(line.rest, row.rest) << Narrow(row.line);
    }
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

// The 64-bit Program Files and Common Files: the registry's 64-bit view names
// them on every 64-bit Windows, the environment only from Windows 7 on.
std::wstring CurrentVersionFolder(const wchar_t* name)
{
    win::Key key;
    std::wstring value;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_QUERY_VALUE,
                     IsWindows64() ? win::RegView::Bit64 : win::RegView::Native, key) == ERROR_SUCCESS)
        win::ReadString(key.get(), name, value);
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH);
    return expanded;
}

// Also run in a process without "ProgramW6432" and "CommonProgramW6432" (next test).
TEST(ProtectedFolders, ProgramAndCommonFilesOfTheRegistrysView)
{
    for (const wchar_t* name : {L"ProgramFilesDir", L"CommonFilesDir"}) {
        const std::wstring folder = CurrentVersionFolder(name);
        ASSERT_FALSE(folder.empty()) << Narrow(name);
        EXPECT_EQ(win::removal::Judge(folder).verdict, Verdict::Protected) << Narrow(folder);
        EXPECT_EQ(win::removal::Judge(folder + L"\\Zelmar").verdict, Verdict::Allowed) << Narrow(folder);
    }
}

// 64-bit Windows before Windows 7 (XP x64 to Server 2008) lack the variables.
TEST(ProtectedFolders, GuardTheSameWithoutTheWindows7Variables)
{
    struct Unset {
        std::wstring name, value;
        explicit Unset(const wchar_t* n) : name(n)
        {
            wchar_t buffer[MAX_PATH] = {};
            if (GetEnvironmentVariableW(n, buffer, MAX_PATH) < MAX_PATH) value = buffer;
            SetEnvironmentVariableW(n, nullptr);
        }
        ~Unset() { SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str()); }
    } programs(L"ProgramW6432"), common(L"CommonProgramW6432");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    // A fresh process makes its table without them.
    EXPECT_EQ(RunAndWait(L"\"" + std::wstring(self) +
                         L"\" --gtest_filter=ProtectedFolders.ProgramAndCommonFilesOfTheRegistrysView"),
              0u);
}

// The verdict once the change has been seen: the table asks for changes at
// most once per clock tick, and the folder's notification comes through the
// file system's own watch.
Verdict SettledVerdict(const std::wstring& path, Verdict before)
{
    Verdict verdict = before;
    for (int wait = 0; wait < 50 && verdict == before; ++wait) {
        Sleep(100);
        verdict = win::removal::Judge(path).verdict;
    }
    return verdict;
}

// The table is made once and again when an account comes or goes: a new
// profile's folder is protected, and no longer once it is gone.
TEST(ProtectedFolders, FollowTheProfileListAndTheProfilesFolder)
{
    ScratchDir scratch(L"removal-profiles");
    const std::wstring image = scratch / L"zltest-account";
    ASSERT_TRUE(CreateDirectoryW(image.c_str(), nullptr));
    EXPECT_EQ(win::removal::Judge(image).verdict, Verdict::Allowed);
    {
        ScratchKey profile(HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-4242");
        ASSERT_EQ(win::WriteString(profile.get(), L"ProfileImagePath", image, REG_EXPAND_SZ), ERROR_SUCCESS);
        EXPECT_EQ(SettledVerdict(image, Verdict::Allowed), Verdict::Protected);
    }
    EXPECT_EQ(SettledVerdict(image, Verdict::Protected), Verdict::Allowed);

    wchar_t buffer[MAX_PATH] = {};
    DWORD units = MAX_PATH;
    ASSERT_TRUE(GetProfilesDirectoryW(buffer, &units));
    const std::wstring account = std::wstring(buffer) + L"\\zltest-account";
    RemoveDirectoryW(account.c_str());
    EXPECT_EQ(win::removal::Judge(account).verdict, Verdict::Allowed);
    ASSERT_TRUE(CreateDirectoryW(account.c_str(), nullptr));
    EXPECT_EQ(SettledVerdict(account, Verdict::Allowed), Verdict::Protected);
    ASSERT_TRUE(RemoveDirectoryW(account.c_str()));
}

}  // namespace
