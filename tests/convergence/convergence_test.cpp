// A run cut short is finished by the next one. converge.sh drives these
// phases, each a separate start of this program, since a simulated restart
// ends every program of the prefix:
//   Converge.Stage  lays the suite (ZL_CONVERGE_SUITE: "older" or "newer")
//                   and keeps the snapshot taken before;
//   Converge.Run    starts the shipped Uprooter.exe /suppressprompt
//                   /supressreboot from a Windows-side launcher; on the first
//                   run of a point (ZL_CONVERGE_SEED) it ends the launcher's
//                   whole process tree hard after the k-th log line and a
//                   delay, both drawn from the seed; it leaves a "restart"
//                   file when a run that ended left work for the restart;
//   Converge.Check  succeeds once the machine is clean;
//   Converge.Audit  the audit after the last run (and with ZL_CONVERGE_RERUN
//                   one more run on the clean machine), then the staging undone.
#include <gtest/gtest.h>

#include "OlderStage.h"
#include "Running.h"
#include "SuiteStage.h"
#include "SweeperTestSupport.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <optional>
#include <set>

using namespace testing_support;
using namespace sweeper_tests;

namespace {

const std::wstring kArea = L"C:\\zltest-converge";
const std::wstring kApp = kArea + L"\\Uprooter", kCaller = kArea + L"\\caller", kTemp = kArea + L"\\temp";
const std::wstring kBefore = kArea + L"\\before.txt", kEnded = kArea + L"\\ended.txt", kRestart = kArea + L"\\restart";
const std::wstring kRecords = kArea + L"\\records", kFramework = kArea + L"\\framework.calls";
constexpr wchar_t kMarkerKey[] = L"SOFTWARE\\Zelmar Uprooter";
constexpr wchar_t kDefaultLogFolder[] = L"\\Zelmar\\Endpoint Guard";

// Log lines of a whole run on the staged suite (both run logs, and Sweeper's
// on the newer road): the kill points are drawn from 1 to this.
constexpr uint64_t kOlderRunLines = 613;
constexpr uint64_t kNewerRunLines = 814;
constexpr uint64_t kMostDelayMs = 1000;
constexpr DWORD kRunAllowanceMs = 900000;

bool Older()
{
    const wchar_t* suite = _wgetenv(L"ZL_CONVERGE_SUITE");
    return suite != nullptr && std::wstring(suite) == L"older";
}

stage::Footprint Suite() { return Older() ? stage::OlderSuite(older_tests::TestbedSources(kRecords)) : stage::NewerSuite(); }

std::vector<std::wstring> Compared() { return {kApp, kCaller}; }
std::vector<std::wstring> Ignored() { return {kApp + L"\\Uprooter.log", kCaller + L"\\Uprooter.log"}; }

// The point of a seed: the log line after which the tree is ended, and a delay.
struct Point {
    uint64_t line = 0;
    DWORD delayMs = 0;
};

Point PointOf(uint64_t seed)
{
    uint64_t z = seed + 0x9E3779B97F4A7C15ull;  // splitmix64
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    const uint64_t lines = Older() ? kOlderRunLines : kNewerRunLines;
    return {1 + z % lines, static_cast<DWORD>((z >> 32) % kMostDelayMs)};
}

// Lines in a file that another process may be writing.
uint64_t LinesIn(const std::wstring& path)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    uint64_t lines = 0;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        for (DWORD i = 0; i < read; ++i) lines += buffer[i] == '\n';
    return lines;
}

uint64_t RunLogLines()
{
    uint64_t lines = LinesIn(kCaller + L"\\Uprooter.log") + LinesIn(kApp + L"\\Uprooter.log");
    for (const std::wstring& name : LogFiles(kTemp)) lines += LinesIn(kTemp + L"\\ZelmarLogs\\" + name);
    return lines;
}

uint64_t ProcessStart(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Ends root and every process descended from it, hard, as TerminateProcess
// does; rounds until no new descendant shows up. Returns "<pid> <start>" of each.
std::vector<std::string> EndTree(DWORD root)
{
    // Parents before their children, so that no ended program's parent starts another.
    std::vector<DWORD> tree = {root};
    std::set<DWORD> known = {root}, ended;
    std::vector<std::string> records;
    for (int quiet = 0, round = 0; quiet < 3 && round < 50; ++round) {
        win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (bool grew = true; grew;) {
            grew = false;
            for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
                if (known.count(entry.th32ParentProcessID) && known.insert(entry.th32ProcessID).second) {
                    tree.push_back(entry.th32ProcessID);
                    grew = true;
                }
        }
        bool any = false;
        for (DWORD pid : tree) {
            if (!ended.insert(pid).second) continue;
            win::Handle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid));
            if (!process) continue;
            any = true;
            records.push_back(std::to_string(pid) + " " + std::to_string(ProcessStart(process.get())));
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 5000);
        }
        quiet = any ? 0 : quiet + 1;
        if (quiet) Sleep(100);
    }
    return records;
}

// Processes of an ended tree that still run: the same id and start time.
std::vector<std::string> StillRunning()
{
    std::vector<std::string> running;
    for (const std::string& line : SplitLines(ReadFileBytes(kEnded))) {
        const DWORD pid = std::strtoul(line.c_str(), nullptr, 10);
        win::Handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
        DWORD code = 0;
        if (process && GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE &&
            line == std::to_string(pid) + " " + std::to_string(ProcessStart(process.get())))
            running.push_back(line);
    }
    return running;
}

bool MarkerLeft()
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, kMarkerKey, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

// Runs Uprooter as the fleet does. With a point, ends its tree there and
// answers nothing; otherwise the launcher's exit code (Uprooter's).
std::optional<DWORD> RunUprooter(const std::optional<Point>& point)
{
    TempFolderOverride temp(kTemp);
    std::optional<ScopedEnv> path;
    if (!Older()) path.emplace(L"PATH", stage::SessionPath());
    ScopedEnv framework(L"ZL_BIZ_LOG", kFramework), record(L"ZL_COMPONENT_RECORD", kRecords + L"\\components.txt"),
        com(L"ZL_COM_LOG", kRecords + L"\\com.txt"), defender(L"ZL_DEFENDER_LOG", kRecords + L"\\MpClient.calls");
    std::wstring command =
        L"\"" + kCaller + L"\\launcher.exe\" \"" + kApp + L"\\Uprooter.exe\" /suppressprompt /supressreboot";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, kApp.c_str(), &startup, &started)) {
        ADD_FAILURE() << "the launcher did not start: " << GetLastError();
        return 0xFFFFFFFF;
    }
    win::Handle process(started.hProcess), thread(started.hThread);
    const DWORD begun = GetTickCount();
    while (point && WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT) {
        if (RunLogLines() < point->line) continue;
        if (WaitForSingleObject(process.get(), point->delayMs) != WAIT_TIMEOUT) break;
        const std::vector<std::string> ended = EndTree(started.dwProcessId);
        std::string text;
        for (const std::string& line : ended) text += line + "\r\n";
        WriteFileBytes(kEnded, ReadFileBytes(kEnded) + text);
        std::cout << "ended " << ended.size() << " processes after " << (GetTickCount() - begun) << " ms, at log line "
                  << RunLogLines() << "\n";
        return std::nullopt;
    }
    EXPECT_EQ(WaitForSingleObject(process.get(), kRunAllowanceMs), WAIT_OBJECT_0) << "Uprooter did not end";
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.get(), &code);
    std::cout << "the run ended with " << code << " after " << (GetTickCount() - begun) << " ms and "
              << RunLogLines() << " log lines\n";
    return code;
}

// What a clean machine may still hold of the suite: without "-a", the older
// suite's own sub-folders of the shared data folder stay.
std::vector<std::wstring> Unexpected(const stage::Audit& audit)
{
    std::vector<std::wstring> left;
    for (const std::wstring& item : audit.stillPresent)
        if (!Older() || item.find(L"\\ProgramData\\Zelmar\\") == std::wstring::npos) left.push_back(item);
    return left;
}

bool Clean(const stage::Audit& audit)
{
    return Unexpected(audit).empty() && audit.pendingRestart.empty() && audit.outsideChanged.empty() &&
           audit.plantedMissing.empty() && !MarkerLeft() && StillRunning().empty();
}

stage::Snapshot Before()
{
    return stage::Deserialize(older_tests::Wide(ReadFileBytes(kBefore)));
}

TEST(Converge, Stage)
{
    win::RemoveTree(kArea);
    for (const std::wstring& folder : {kArea, kApp, kCaller, kTemp, kRecords})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(LayOutShipped(kApp));
    ASSERT_TRUE(CopyFileW((X86Tree() + L"\\testbed\\stub\\launcher.exe").c_str(), (kCaller + L"\\launcher.exe").c_str(),
                          FALSE));
    const stage::Footprint suite = Suite();
    ASSERT_TRUE(WriteFileBytes(kBefore, older_tests::Utf8(stage::Serialize(stage::TakeSnapshot(suite, Compared())))));
    const std::vector<std::wstring> problems =
        Older() ? stage::Lay(suite)
                : stage::Lay({X86Tree() + L"\\testbed\\sweeper-suite", X86Tree() + L"\\testbed\\agent\\ZelmarAgent.msi"});
    // On a loaded machine a program may show its window after the stager
    // stopped waiting for it: one that runs now was laid.
    const std::wstring late = L"cannot start ", window = L" with its window";
    std::string text;
    for (const std::wstring& problem : problems) {
        const bool windowLate = problem.rfind(late, 0) == 0 && problem.size() > late.size() + window.size() &&
                                problem.compare(problem.size() - window.size(), window.size(), window) == 0 &&
                                stage::IsRunning(problem.substr(late.size(), problem.size() - late.size() - window.size()));
        if (!windowLate) text += "\n    " + Narrow(problem);
    }
    ASSERT_TRUE(text.empty()) << "staging failed:" << text;
}

TEST(Converge, Run)
{
    const wchar_t* seed = _wgetenv(L"ZL_CONVERGE_SEED");
    const wchar_t* run = _wgetenv(L"ZL_CONVERGE_RUN");
    std::optional<Point> point;
    if (seed != nullptr && run != nullptr && std::wstring(run) == L"1") {
        point = PointOf(std::wcstoull(seed, nullptr, 10));
        std::cout << "seed " << Narrow(seed) << ": the run is ended after log line " << point->line << " and "
                  << point->delayMs << " ms\n";
    }
    const std::optional<DWORD> code = RunUprooter(point);
    if (!code) return;
    // A run that ended normally: the older road exits 0, the newer one 1 once
    // Sweeper ran. Work left for the restart asks for one.
    EXPECT_EQ(*code, Older() ? 0u : 1u);
    if (!stage::TakeAudit(Suite(), Before(), Compared(), Ignored()).pendingRestart.empty())
        WriteFileBytes(kRestart, "asked");
}

TEST(Converge, Check)
{
    const stage::Audit audit = stage::TakeAudit(Suite(), Before(), Compared(), Ignored());
    EXPECT_TRUE(Clean(audit)) << Narrow(stage::Describe(audit)) << (MarkerLeft() ? "the removal's marker is left\n" : "");
}

TEST(Converge, Audit)
{
    const stage::Footprint suite = Suite();
    const stage::Snapshot before = Before();
    ASSERT_FALSE(before.empty()) << "no snapshot was kept";
    std::optional<older_tests::StagingUndo> undo(std::in_place, suite, before);

    // Nothing of the suite is left (but the older suite's data folders, which
    // go only with "-a"), nothing is left for a restart, nothing else changed,
    // another product's data survived, no user hive is left loaded, the
    // removal's marker is gone and no process of an ended run still runs.
    const stage::Audit audit = stage::TakeAudit(suite, before, Compared(), Ignored());
    const std::string described = Narrow(stage::Describe(audit));
    EXPECT_TRUE(Unexpected(audit).empty()) << described;
    EXPECT_TRUE(audit.pendingRestart.empty()) << described;
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(audit.plantedMissing.empty()) << described;
    EXPECT_FALSE(older_tests::Mentions(audit.stillPresent, L"is still loaded")) << described;
    EXPECT_FALSE(MarkerLeft()) << "the older road's marker is left";
    EXPECT_TRUE(StillRunning().empty()) << "still running of an ended run: " << StillRunning().front();

    // One more run on the clean machine harms nothing and says there is nothing
    // of the older suite to remove; the newer road finds no agent either.
    if (_wgetenv(L"ZL_CONVERGE_RERUN") != nullptr) {
        win::RemoveTree(kTemp);
        CreateDirectoryW(kTemp.c_str(), nullptr);
        EXPECT_EQ(RunUprooter(std::nullopt).value_or(0xFFFFFFFF), 1u);
        EXPECT_TRUE(ContainsInOrder(
            SplitLines(ReadFileBytes(kCaller + L"\\Uprooter.log")),
            {"Starting Uprooter...",
             "Agent version not found and no unfinished removal of the older product: nothing of it to remove",
             "Uninstalling newer product", "LaunchCleanupUtility(): Cleanup Utility found",
             "HostCommon uninstalled successfully", "No agent of the newer product is installed: nothing of it to remove"}));
        // The logging library makes its default folder when the suite's log
        // folder setting is gone (docs/configuration.md): the one change.
        const stage::Audit again = stage::TakeAudit(suite, before, Compared(), Ignored());
        const std::wstring logs = stage::CommonAppData() + kDefaultLogFolder;
        std::vector<std::wstring> changed;
        bool madeLogs = false;
        for (const std::wstring& change : again.outsideChanged) {
            const bool logFolder = change == L"added: " + logs || change == L"added: " + logs + L"\\Logs";
            madeLogs = madeLogs || logFolder;
            if (!logFolder) changed.push_back(change);
        }
        EXPECT_EQ(again.stillPresent, audit.stillPresent) << Narrow(stage::Describe(again));
        EXPECT_TRUE(changed.empty() && again.plantedMissing.empty()) << Narrow(stage::Describe(again));
        if (madeLogs)
            for (const std::wstring& folder : {logs + L"\\Logs", logs}) RemoveDirectoryW(folder.c_str());
    }
    std::cout << described;

    undo.reset();
    std::string changes;
    for (const std::wstring& change : stage::ChangesSince(suite, before, Compared(), Ignored()))
        changes += "\n    " + Narrow(change);
    EXPECT_TRUE(changes.empty()) << "expected the prefix as before staging; found:" << changes;
    win::RemoveTree(kArea);
}

}  // namespace
