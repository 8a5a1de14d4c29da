// The older suite's road with Complete cleanup ("-a") across a restart. The
// first phase lays the suite, keeps the snapshot taken before in a file and
// runs Uprooter.exe /suppressprompt /supressreboot -a as older_run_test.cpp
// does; restart_run.sh then restarts the prefix, which carries out what was
// left for the restart; the second phase audits the machine against the
// footprint's own lists: nothing of the suite is left, another product's data
// survives, nothing else changed; then the staging is undone.
#include <gtest/gtest.h>

#include "OlderStage.h"
#include "SuiteStage.h"
#include "SweeperTestSupport.h"

#include <iostream>
#include <optional>

using namespace testing_support;
using namespace older_tests;
using namespace sweeper_tests;

namespace {

// Both phases are separate processes: what they share lies here.
const std::wstring kArea = L"C:\\zltest-older-restart";
const std::wstring kApp = kArea + L"\\Uprooter", kCaller = kArea + L"\\caller";
const std::wstring kBefore = kArea + L"\\before.txt", kRecord = kArea + L"\\components.txt",
                   kComLog = kArea + L"\\com.txt", kDefender = kArea + L"\\MpClient.calls";

stage::Footprint Suite()
{
    // The running stand-ins keep their records beside the phases' files.
    return stage::OlderSuite(TestbedSources(kArea));
}

std::vector<std::wstring> Compared() { return {kApp, kCaller}; }
std::vector<std::wstring> Ignored()
{
    return {kApp + L"\\Uprooter.log", kCaller + L"\\Uprooter.log", kRecord, kComLog, kDefender, kBefore};
}

std::string Listed(const std::vector<std::wstring>& items)
{
    std::string text;
    for (const std::wstring& item : items) text += "\n    " + Narrow(item);
    return text;
}

TEST(BeforeRestart, UprooterWithCompleteCleanupRuns)
{
    win::RemoveTree(kArea);
    for (const std::wstring& folder : {kArea, kApp, kCaller}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(BuildPath(L"uprooter\\Uprooter.exe").c_str(), (kApp + L"\\Uprooter.exe").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileW(BuildPath(L"testbed\\stub\\launcher.exe").c_str(), (kCaller + L"\\launcher.exe").c_str(), FALSE));
    const stage::Footprint suite = Suite();
    // The later phase undoes the staging with this, whatever happens here.
    ASSERT_TRUE(WriteFileBytes(kBefore, Utf8(stage::Serialize(stage::TakeSnapshot(suite, Compared())))));
    const std::vector<std::wstring> problems = stage::Lay(suite);
    ASSERT_TRUE(problems.empty()) << "staging failed:" << Listed(problems);

    ScopedEnv record(L"ZL_COMPONENT_RECORD", kRecord), com(L"ZL_COM_LOG", kComLog), defender(L"ZL_DEFENDER_LOG", kDefender);
    EXPECT_EQ(RunAndWait(L"\"" + kCaller + L"\\launcher.exe\" \"" + kApp +
                             L"\\Uprooter.exe\" /suppressprompt /supressreboot -a",
                         kApp, 600000),
              0u);
    const std::vector<std::string> runLog = SplitLines(ReadFileBytes(kApp + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(runLog, {"reloUni::logdataClobber - Complete cleanup, Product Data logs will be deleted",
                                         "*reloUni::CleanMisDirectories - SmartCleanZelmarDataFolder.*",
                                         "Supressing Reboot as per Command Line"}));
}

TEST(AfterRestart, NothingOfTheSuiteIsLeftAndNothingElseChanged)
{
    const stage::Footprint suite = Suite();
    const stage::Snapshot before = stage::Deserialize(Wide(ReadFileBytes(kBefore)));
    ASSERT_FALSE(before.empty()) << "the first phase kept no snapshot";
    std::optional<StagingUndo> undo(std::in_place, suite, before);

    // What the run started of the firewall generations, and the shell-service
    // modules it unregistered (the Tarvo variant's and the managed one's).
    const std::vector<std::string> missing = MissingFirewallLaunches(SplitLines(ReadFileBytes(kRecord)));
    EXPECT_TRUE(missing.empty()) << ReadFileBytes(kRecord);
    size_t unregistered = 0;
    for (const std::string& line : SplitLines(ReadFileBytes(kComLog)))
        unregistered += line.rfind("DllUnregisterServer 32 ", 0) == 0 && line.find("\\zlPfwShell.dll ") != std::string::npos;
    EXPECT_EQ(unregistered, 2u) << ReadFileBytes(kComLog);

    // With "-a" and after the restart, none of the suite's items is left (the
    // shared data folder's own sub-folders and the install folder, which held
    // a link to another product's folder, included); another product's items
    // survive, the link's target with its content; nothing else changed.
    const stage::Audit audit = stage::TakeAudit(suite, before, Compared(), Ignored());
    const std::string described = Narrow(stage::Describe(audit));
    EXPECT_TRUE(audit.stillPresent.empty()) << described;
    EXPECT_TRUE(audit.pendingRestart.empty()) << described;
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(audit.plantedMissing.empty()) << described;
    std::cout << described;

    undo.reset();
    EXPECT_TRUE(stage::ChangesSince(suite, before, Compared(), Ignored()).empty())
        << "expected the prefix as before staging; found:"
        << Listed(stage::ChangesSince(suite, before, Compared(), Ignored()));
    win::RemoveTree(kArea);
}

}  // namespace
