// Sweeper without machine-wide state: the log, the configuration parser, the
// command line, the administrator check and the configuration outcomes of the
// real program.
#include <gtest/gtest.h>

#include "SweeperConfig.h"
#include "SweeperLog.h"
#include "SweeperMain.h"
#include "SweeperTestSupport.h"

#include <regex>

using namespace testing_support;
using namespace sweeper_tests;
using sweeper::CSweeperConfigInfoParser;
using sweeper::SweeperConfiguration;
using sweeper::SweeperLog;

namespace {

// Every line carries the tag of the thread that first obtained the process-wide log.
const bool kThreadTagged = (sweeper::GetSweeperLog(), true);

std::string LogFileText(const SweeperLog& log) { return ReadFileBytes(log.FilePath()); }

// --- The log -----------------------------------------------------------------

TEST(SweeperLogFile, FirstMessageCreatesFolderWithParentsAndStampedFile)
{
    ScratchDir scratch(L"sweeper-log");
    const std::wstring temp = scratch / L"missing\\parents";
    TempFolderOverride override(temp);
    SweeperLog log;
    log.Write(L"first message");

    std::vector<std::wstring> files = LogFiles(temp);
    ASSERT_EQ(files.size(), 1u) << "expected one log file in " << Narrow(temp) << "\\ZelmarLogs";
    std::smatch name;
    const std::string fileName = Narrow(files[0]);
    ASSERT_TRUE(
        std::regex_match(fileName, name, std::regex(R"(Zelmar_Endpoint_Sweeper_(\d\d)(\d\d)(\d{4})\d{8,9}\.log)")))
        << "file name " << fileName;
    EXPECT_EQ(Narrow(log.FilePath()), Narrow(temp) + "\\ZelmarLogs\\" + fileName);

    std::vector<std::string> lines = SplitLines(LogFileText(log));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch line;
    const std::string expected = R"((\d\d)/(\d\d)/(\d{4}) \d\d:\d\d:\d\d\.\d{2,3} \[)" +
                                 std::to_string(GetCurrentThreadId()) + R"(\] \[SweeperMain\] first message)";
    ASSERT_TRUE(std::regex_match(lines[0], line, std::regex(expected))) << "line: " << lines[0];
    EXPECT_EQ(line[1], name[1]) << "day";
    EXPECT_EQ(line[2], name[2]) << "month";
    EXPECT_EQ(line[3], name[3]) << "year";
}

TEST(SweeperLogFile, LinesAppendWithCrLfOneBytePerUnitAndAreCutAtTheirBuffer)
{
    ScratchDir scratch(L"sweeper-log-bytes");
    CreateDirectoryW((scratch / L"ZelmarLogs").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(scratch / L"ZelmarLogs\\other.log", "kept"));
    TempFolderOverride override(scratch.path());
    SweeperLog log;
    log.Write(L"caf\u00e9");
    log.Write(L"\u0416 and %d stay");
    log.Printf(L"Return value : %d", -5);
    log.Write(std::wstring(3000, L'x').c_str());
    std::string text = LogFileText(log);
    EXPECT_NE(text.find("] caf\xE9\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] ? and %d stay\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] Return value : -5\r\n"), std::string::npos) << text;
    std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].size(), 1022u) << "a line is formatted in 1023 units";
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    EXPECT_EQ(ReadFileBytes(scratch / L"ZelmarLogs\\other.log"), "kept") << "an existing folder is used unchanged";
}

TEST(SweeperLogFile, MessageWithoutUsableFolderIsDroppedAndCreationRetried)
{
    ScratchDir scratch(L"sweeper-log-retry");
    ASSERT_TRUE(WriteFileBytes(scratch / L"plainfile", "x"));
    SweeperLog log;
    {
        TempFolderOverride override(scratch / L"plainfile");
        log.Write(L"dropped");
        EXPECT_STREQ(log.FilePath(), L"") << "no file while the folder cannot be made";
    }
    TempFolderOverride override(scratch.path());
    log.Write(L"kept");
    std::vector<std::string> lines = SplitLines(LogFileText(log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] kept"), std::string::npos);
}

TEST(SweeperLogFile, FileDeletedDuringTheRunIsMadeAgainByTheNextLine)
{
    ScratchDir scratch(L"sweeper-log-deleted");
    TempFolderOverride override(scratch.path());
    SweeperLog log;
    log.Write(L"before");
    ASSERT_TRUE(DeleteFileW(log.FilePath()));
    log.Write(L"after");
    std::vector<std::string> lines = SplitLines(LogFileText(log));
    ASSERT_EQ(lines.size(), 1u) << "the line after the deletion was dropped";
    EXPECT_NE(lines[0].find("] after"), std::string::npos) << lines[0];
}

// --- The configuration ---------------------------------------------------------

struct ParseOutcome {
    bool ok;
    SweeperConfiguration store;
    std::vector<std::string> messages;
};

ParseOutcome Parse(const std::wstring& text)
{
    ScratchDir scratch(L"sweeper-parse");
    TempFolderOverride override(scratch.path());
    win::ComInit com;
    SweeperLog log;
    CSweeperConfigInfoParser parser(L",", log);
    ParseOutcome outcome{};
    outcome.ok = parser.ParseText(text, L"SweeperConfig.xml", outcome.store);
    outcome.messages = LogMessages(scratch.path());
    return outcome;
}

const wchar_t kEntryA[] = L"<UninstallerConfigurationInfo Name='A' ProductCode='{A}' Prefix='A_'/>";
const wchar_t kEntryB[] = L"<UninstallerConfigurationInfo Name='B' ProductCode='{B}' Prefix='B_'/>";

TEST(SweeperConfigParse, FullEntryWithListsAndTimes)
{
    ParseOutcome o = Parse(
        L"<Sweeper UninstallTimeout=' 600' SleepTimeSlice='2'><Modules>"
        L"<UninstallerConfigurationInfo Name='AGS Connector' ProductCode='{C0DE}' Prefix='AGS_'>"
        L"<InstallerInitiatedProcessList>,a,, b,</InstallerInitiatedProcessList><MMSServicesList></MMSServicesList>"
        L"<WindowsServicesList>svc</WindowsServicesList><ProcessList>p1,p2</ProcessList>"
        L"<RefCountBuildValues>1.2</RefCountBuildValues></UninstallerConfigurationInfo></Modules>"
        L"<Dependencies><UninstallerConfigurationInfo Name='D' ProductCode='{D}' Prefix='D_'>"
        L"<RefCountBuildValues>10.2.1100.7,10.2.1105.2</RefCountBuildValues></UninstallerConfigurationInfo>"
        L"</Dependencies></Sweeper>");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.store.uninstallTimeoutMs, 600000u);
    EXPECT_EQ(o.store.sleepTimeSliceMs, 2000u);
    ASSERT_EQ(o.store.modules.size(), 1u);
    const auto& m = o.store.modules[0];
    EXPECT_EQ(m.Name, L"AGS Connector");
    EXPECT_EQ(m.ProductCode, L"{C0DE}");
    EXPECT_EQ(m.Prefix, L"AGS_");
    EXPECT_EQ(m.InstallerInitiatedProcesses, (std::vector<std::wstring>{L"a", L" b"}))
        << "empty pieces skipped, blanks kept";
    EXPECT_TRUE(m.MmsServices.empty());
    EXPECT_EQ(m.WindowsServices, (std::vector<std::wstring>{L"svc"}));
    EXPECT_EQ(m.Processes, (std::vector<std::wstring>{L"p1", L"p2"}));
    EXPECT_TRUE(m.RefCountBuildValues.empty()) << "a module's build values are ignored";
    ASSERT_EQ(o.store.dependencies.size(), 1u);
    EXPECT_EQ(o.store.dependencies[0].RefCountBuildValues, (std::vector<std::wstring>{L"10.2.1100.7", L"10.2.1105.2"}));
    EXPECT_TRUE(o.store.dependencies[0].Processes.empty()) << "a missing list element is an empty list";
    EXPECT_TRUE(o.messages.empty());
}

TEST(SweeperConfigParse, GroupsAnywhereBelowTheRootInDocumentOrder)
{
    ParseOutcome o = Parse(std::wstring(L"<Sweeper UninstallTimeout='abc' SleepTimeSlice='-1'><Modules>") + kEntryB +
                           L"</Modules><Extra><Modules>" + kEntryA + L"</Modules></Extra></Sweeper>");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.store.uninstallTimeoutMs, 0u) << "text that is no number gives 0";
    EXPECT_EQ(o.store.sleepTimeSliceMs, static_cast<DWORD>(-1000));
    ASSERT_EQ(o.store.modules.size(), 2u);
    EXPECT_EQ(o.store.modules[0].Name, L"B");
    EXPECT_EQ(o.store.modules[1].Name, L"A");
    EXPECT_TRUE(o.store.dependencies.empty()) << "no Dependencies element is valid";
}

TEST(SweeperConfigParse, UnusableDocumentsAreRejectedWithTheirLine)
{
    struct Case {
        std::wstring text;
        std::string line;
    } cases[] = {
        {L"<sweeper UninstallTimeout='1' SleepTimeSlice='1'/>", "[ERROR]: Cannot Open SweeperConfig.xml"},
        {L"<Sweeper UninstallTimeout='1' SleepTimeSlice='1'>", "[ERROR]: Cannot Open SweeperConfig.xml"},
        {L"", "[ERROR]: Cannot Open SweeperConfig.xml"},
        {L"<Sweeper SleepTimeSlice='1'/>", "[ERROR]: Cannot retrieve UninstallTimeout attribute"},
        {L"<Sweeper UninstallTimeout='1'/>", "[ERROR]: Cannot retrieve SleepTimeSlice attribute"},
        {L"<Sweeper UninstallTimeout='1' SleepTimeSlice='1'><Modules><UninstallerConfigurationInfo Name='A' "
         L"Prefix='A_'/></Modules></Sweeper>",
         "[ERROR]: Cannot retrieve ProductCode attribute"},
    };
    for (const Case& c : cases) {
        ParseOutcome o = Parse(c.text);
        EXPECT_FALSE(o.ok) << Narrow(c.text);
        EXPECT_EQ(o.messages, std::vector<std::string>{c.line}) << Narrow(c.text);
    }
}

// --- The administrator check ------------------------------------------------------

// Answers the token query with one group, Everyone: no Administrators.
BOOL WINAPI TokenWithoutAdministrators(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID buffer, DWORD size, PDWORD needed)
{
    static SID everyone = {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
    *needed = sizeof(TOKEN_GROUPS);
    if (!buffer || size < sizeof(TOKEN_GROUPS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* groups = static_cast<TOKEN_GROUPS*>(buffer);
    groups->GroupCount = 1;
    groups->Groups[0].Sid = &everyone;
    groups->Groups[0].Attributes = SE_GROUP_ENABLED;
    return TRUE;
}

BOOL WINAPI TokenQueryFails(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

struct TokenQueryOverride {
    explicit TokenQueryOverride(sweeper::TokenInformationQuery query) { sweeper::SetTokenInformationQuery(query); }
    ~TokenQueryOverride() { sweeper::SetTokenInformationQuery(nullptr); }
};

TEST(SweeperAdministrator, NoAdministratorsGroupEndsTheRunWithOne)
{
    EXPECT_TRUE(sweeper::IsAdministrator()) << "the real token of a Wine process";
    {
        TokenQueryOverride fails(TokenQueryFails);
        EXPECT_FALSE(sweeper::IsAdministrator());
    }
    ScratchDir scratch(L"sweeper-admin");
    TempFolderOverride override(scratch.path());
    TokenQueryOverride user(TokenWithoutAdministrators);
    EXPECT_FALSE(sweeper::IsAdministrator());
    // The box cannot show without a display and must not hold the run.
    EXPECT_EQ(sweeper::RunSweeper(L"/qn"), 1);
    EXPECT_EQ(LogMessages(scratch.path()),
              (std::vector<std::string>{"Starting Sweeper",
                                        " Zelmar Endpoint Sweeper requires administrator rights. "
                                        "Uninstaller cannot continue."}));
}

// --- The program with its configuration file ------------------------------------------

class SweeperProgram : public ::testing::Test {
protected:
    SweeperProgram() : app_(L"sweeper-app"), temp_(L"sweeper-temp") {}
    RunResult Run(const std::string& config, const std::wstring& arguments)
    {
        LayOutSweeper(app_.path(), config);
        return RunSweeperIn(app_.path(), arguments, temp_.path());
    }
    ScratchDir app_, temp_;
};

TEST_F(SweeperProgram, ConfigurationErrorsEndWithOneBeforeTheCommandLine)
{
    const std::string errors[][2] = {
        {"<Root UninstallTimeout=\"1\" SleepTimeSlice=\"1\"/>", "[ERROR]: Cannot Open SweeperConfig.xml"},
        {"<Sweeper UninstallTimeout=\"1\" SleepTimeSlice=\"1\"><Modules>", "[ERROR]: Cannot Open SweeperConfig.xml"},
        {"<Sweeper UninstallTimeout=\"1\"/>", "[ERROR]: Cannot retrieve SleepTimeSlice attribute"},
    };
    for (const auto& [config, line] : errors) {
        RunResult r = Run(config, L"/qn");
        EXPECT_EQ(r.exitCode, 1u) << config;
        EXPECT_EQ(r.messages,
                  (std::vector<std::string>{"Starting Sweeper", line, "[ERROR]: Invalid uninstallation information",
                                            "Cannot read configuration XML"}))
            << config;
        win::RemoveTree(temp_ / L"ZelmarLogs");
    }
}

TEST_F(SweeperProgram, MissingConfigurationRunsCleanWithNoEntries)
{
    // Not silent: the success box cannot show without a display and the run still ends.
    RunResult r = Run("", L"");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.messages,
              (std::vector<std::string>{"Starting Sweeper",
                                        "Unable to read SweeperConfig.xml.No uninstallation will be performed.",
                                        "Commandline :   ", "Removing Modules", "Removed Modules",
                                        "Removing Dependencies", "No Dependencies are configured to uninstall);",
                                        "Removed Dependencies", "Clean uninstallation completed successfully"}));
    // The run's time budget: the start, then the whole run, each split.
    ASSERT_EQ(r.times.size(), 2u);
    const std::string split =
        " took [0-9]+ ms \\(waiting for children [0-9]+ ms, fixed waits [0-9]+ ms, own work [0-9]+ ms\\)";
    EXPECT_TRUE(std::regex_match(r.times[0], std::regex("Timing: start and configuration" + split))) << r.times[0];
    EXPECT_TRUE(std::regex_match(r.times[1], std::regex("Timing: Sweeper" + split))) << r.times[1];
}

TEST_F(SweeperProgram, SilentSwitchIsMatchedByWholeTokenInAnyCase)
{
    RunResult r = Run("<Sweeper UninstallTimeout=\"1\" SleepTimeSlice=\"1\"><Modules/><Dependencies/></Sweeper>",
                      L"/QN \"/qn\"\t/qnx /Qn");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.messages, (std::vector<std::string>{
                              "Starting Sweeper", "Commandline : /QN \"/qn\"\t/qnx /Qn  ", "Uninstalling silently",
                              "Uninstalling silently", "Removing Modules", "Removed Modules", "Removing Dependencies",
                              "No Dependencies are configured to uninstall);", "Removed Dependencies",
                              "Clean uninstallation completed successfully"}));
}

}  // namespace
