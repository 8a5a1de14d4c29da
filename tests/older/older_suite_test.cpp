// The older suite as the testbed lays it, and the removal steps that exist so
// far run against it for real: the script engines' repair and Defender's
// restore. The audit shows their part gone, another product's data intact,
// and the undo leaves the prefix as it was.
#include <gtest/gtest.h>

#include "DefenderRestore.h"
#include "LogFile.h"
#include "OlderStage.h"
#include "PlatformInfo.h"
#include "Scratch.h"
#include "ScriptEngines.h"
#include "SuiteStage.h"

#include <algorithm>
#include <optional>

using namespace testing_support;
using namespace older_tests;

namespace {

bool Has(const std::vector<std::wstring>& list, const std::wstring& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

class OlderSuite : public ::testing::Test {
protected:
    void SetUp() override
    {
        before_ = stage::TakeSnapshot(suite_);
        undo_.emplace(suite_, before_);
        std::vector<std::wstring> problems = stage::Lay(suite_);
        std::string text;
        for (const std::wstring& problem : problems) text += "\n    " + Narrow(problem);
        ASSERT_TRUE(problems.empty()) << "staging failed:" << text;
        RunLog() = runLog_;
        RunLog().Open();
    }

    std::vector<std::wstring> Ignored() const { return {runLog_, calls_}; }

    // Undoes the staging now and checks that the prefix is as the test found it.
    void ExpectPrefixAsFound()
    {
        undo_.reset();
        std::string changes;
        for (const std::wstring& change : stage::ChangesSince(suite_, before_, {}, Ignored()))
            changes += "\n    " + Narrow(change);
        EXPECT_TRUE(changes.empty()) << "expected the prefix as before staging; found:" << changes;
    }

    ScratchDir scratch_{L"older-suite"};
    const std::wstring runLog_ = scratch_ / L"Uprooter.log", calls_ = scratch_ / L"MpClient.calls";
    const stage::Footprint suite_ = stage::OlderSuite(TestbedSources());
    stage::Snapshot before_;
    std::optional<StagingUndo> undo_;
};

const std::wstring kEngineValue = L"\\InprocServer32\\:";

TEST_F(OlderSuite, EngineRepairAndDefenderRestoreRemoveTheirPartAndNothingElse)
{
    EXPECT_EQ(GetAgentVersion(), L"9.8.1.200") << "the staged agent is not where the removal looks";
    ScopedEnv record(L"ZL_DEFENDER_LOG", calls_);

    RestoreDefenderState();
    CRestoreScriptEngines repair([](const wchar_t* line) { RunLog().Log(L"%s", line); });
    EXPECT_EQ(repair.CheckAndRestoreScriptEngines(), 1);

    const stage::Audit audit = stage::TakeAudit(suite_, before_, {}, Ignored());
    const std::string described = Narrow(stage::Describe(audit));
    EXPECT_FALSE(Mentions(audit.stillPresent, kEngineValue)) << described;
    EXPECT_FALSE(Mentions(audit.stillPresent, kScriptScanHelperObject)) << described;
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(audit.plantedMissing.empty()) << described;
    // What later steps remove is still there.
    EXPECT_TRUE(Mentions(audit.stillPresent, L"SOFTWARE\\Zelmar\\ManagedServices")) << described;
    EXPECT_EQ(SplitLines(ReadFileBytes(calls_)), (std::vector<std::string>{"WDStatus -> 0", "WDEnable 1"}));

    const std::vector<std::string> log = SplitLines(ReadFileBytes(runLog_));
    for (const char* line : {"Restored the previous windows defender status 1",
                             "Deviations detected in VBScript and/or JavaScript registrations were fixed successfully"})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;

    // A second pass on the repaired machine finds nothing to do.
    EXPECT_EQ(repair.CheckAndRestoreScriptEngines(), 0);
    ExpectPrefixAsFound();
}

// The audit is not blind: on the staged suite it names the orphaned engines,
// the helper object and the install folder, and sees planted data that went.
TEST_F(OlderSuite, AuditNamesTheStagedSuiteAndMissingPlantedData)
{
    const std::wstring planted = stage::CommonAppData() + L"\\Zelmar\\Other Product\\keep.txt";
    ASSERT_TRUE(DeleteFileW(planted.c_str())) << Narrow(planted);
    // Shell links: the suite's is named while it is there, another product's once it is gone.
    ASSERT_FALSE(suite_.shortcuts.empty() || suite_.plantedShortcuts.empty());
    const std::wstring link = suite_.shortcuts.back().path, foreignLink = suite_.plantedShortcuts.back().path;
    ASSERT_TRUE(DeleteFileW(foreignLink.c_str())) << Narrow(foreignLink);
    const stage::Audit audit = stage::TakeAudit(suite_, before_, {}, Ignored());
    const std::string described = Narrow(stage::Describe(audit));
    const std::wstring classes32 = stage::IsWindows64() ? L"HKCR(32-bit view)\\" : L"HKCR\\";
    EXPECT_TRUE(Mentions(audit.stillPresent, classes32 + L"CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}" + kEngineValue))
        << described;
    EXPECT_TRUE(Has(audit.stillPresent, classes32 + L"CLSID\\" + kScriptScanHelperObject)) << described;
    EXPECT_TRUE(Has(audit.stillPresent, stage::ProgramFiles32() + L"\\Zelmar\\Managed Quellor")) << described;
    EXPECT_TRUE(Has(audit.stillPresent, link)) << described;
    EXPECT_EQ(audit.plantedMissing, (std::vector<std::wstring>{planted, foreignLink})) << described;
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(Has(audit.stillPresent, L"HKCU\\SOFTWARE\\Zelmar\\ManagedServices")) << described;
    EXPECT_TRUE(Has(audit.stillPresent, stage::ProgramFiles32() + L"\\Mozilla Firefox\\components\\zlwebsafe.dll"))
        << described;
    for (const stage::RegistryLinkItem& link : suite_.registryLinks)
        EXPECT_TRUE(Has(audit.stillPresent, L"HKLM(64-bit view)\\" + link.path + L" (registry link)")) << described;
    ExpectPrefixAsFound();
}

// A user's hive that a removal leaves loaded is named; the undo unloads it.
TEST_F(OlderSuite, AuditNamesAHiveLeftLoaded)
{
    ASSERT_EQ(suite_.userHives.size(), 1u);
    const std::wstring name = L"MQLUserProfile" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegLoadKeyW(HKEY_USERS, name.c_str(), (suite_.userHives[0].profileFolder + L"\\NTUSER.DAT").c_str()),
              ERROR_SUCCESS);
    const stage::Audit audit = stage::TakeAudit(suite_, before_, {}, Ignored());
    EXPECT_TRUE(Has(audit.stillPresent, L"HKU\\" + name + L" is still loaded")) << Narrow(stage::Describe(audit));
    ExpectPrefixAsFound();
    win::Key left;
    EXPECT_NE(win::OpenKey(HKEY_USERS, name, KEY_READ, win::RegView::Native, left), ERROR_SUCCESS) << "still loaded";
}

}  // namespace
