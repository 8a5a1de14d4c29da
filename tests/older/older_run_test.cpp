// The older suite's road, end to end: the suite laid by the testbed's stager,
// Uprooter.exe /suppressprompt /supressreboot started by a Windows program
// from the folder that holds it, and an audit of the machine against how it
// was before the suite was laid. Never without /supressreboot: with "-f" or
// an answered question the run would restart the computer for real.
#include <gtest/gtest.h>

#include "OlderStage.h"
#include "ScriptEngines.h"
#include "SuiteStage.h"
#include "SweeperTestSupport.h"

#include <algorithm>
#include <iostream>
#include <optional>

using namespace testing_support;
using namespace older_tests;
using namespace sweeper_tests;

namespace {

constexpr wchar_t kMainKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kFirewallKey[] = L"SOFTWARE\\Zelmar\\Personal Firewall";

// The suite's per-user keys in the current user's hive, beside another
// product's key there; what is left goes at scope end.
class UserKeys {
public:
    UserKeys()
    {
        for (const wchar_t* path : kPaths) {
            win::Key key;
            win::CreateKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, win::RegView::Native, key);
            win::WriteDword(key.get(), L"Owner", 1);
        }
    }
    ~UserKeys()
    {
        for (const wchar_t* path : kPaths) RegDeleteKeyW(HKEY_CURRENT_USER, path);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar");
    }
    UserKeys(const UserKeys&) = delete;
    UserKeys& operator=(const UserKeys&) = delete;

    static bool Exists(const wchar_t* path)
    {
        win::Key key;
        return win::OpenKey(HKEY_CURRENT_USER, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
    }
    static constexpr const wchar_t* kSuite[] = {L"SOFTWARE\\Zelmar\\ManagedServices", L"SOFTWARE\\Zelmar\\QLCore"};
    static constexpr wchar_t kForeign[] = L"SOFTWARE\\Zelmar\\OtherProduct";

private:
    static constexpr const wchar_t* kPaths[] = {kSuite[0], kSuite[1], kForeign};
};

bool MachineKeyExists(const std::wstring& path, win::RegView view)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

std::wstring EngineModule(const wchar_t* clsid, win::RegView view)
{
    win::Key key;
    wchar_t module[MAX_PATH] = {};
    if (win::OpenKey(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32", KEY_READ, view, key) ==
        ERROR_SUCCESS)
        win::ReadStringInto(key.get(), nullptr, module, MAX_PATH);
    return module;
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

class OlderRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& folder : {app_, caller_}) CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(L"uprooter\\Uprooter.exe").c_str(), (app_ + L"\\Uprooter.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\stub\\launcher.exe").c_str(), (caller_ + L"\\launcher.exe").c_str(),
                              FALSE));
        before_ = stage::TakeSnapshot(suite_, Compared());
        undo_.emplace(suite_, before_);
        std::vector<std::wstring> problems = stage::Lay(suite_);
        std::string text;
        for (const std::wstring& problem : problems) text += "\n    " + Narrow(problem);
        ASSERT_TRUE(problems.empty()) << "staging failed:" << text;
    }

    // As a support engineer runs it: from the folder that holds it, started by
    // another Windows program, restart suppressed.
    DWORD Run()
    {
        ScopedEnv record(L"ZL_DEFENDER_LOG", calls_);
        return RunAndWait(L"\"" + caller_ + L"\\launcher.exe\" \"" + app_ + L"\\Uprooter.exe\" /suppressprompt /supressreboot",
                          app_, 600000);
    }

    std::vector<std::wstring> Compared() const { return {app_, caller_}; }
    std::vector<std::wstring> Ignored() const { return {caller_ + L"\\Uprooter.log", app_ + L"\\Uprooter.log", calls_}; }
    stage::Audit Audit() const { return stage::TakeAudit(suite_, before_, Compared(), Ignored()); }

    void ExpectPrefixAsFound()
    {
        undo_.reset();
        std::string changes;
        for (const std::wstring& change : stage::ChangesSince(suite_, before_, Compared(), Ignored()))
            changes += "\n    " + Narrow(change);
        EXPECT_TRUE(changes.empty()) << "expected the prefix as before staging; found:" << changes;
    }

    ScratchDir root_{L"older-run"};
    const std::wstring app_ = root_ / L"Uprooter", caller_ = root_ / L"caller", calls_ = root_ / L"MpClient.calls";
    const stage::Footprint suite_ = stage::OlderSuite(
        {BuildPath(L"testbed\\agent\\tvAgtSvc_older.exe"), BuildPath(L"testbed\\defender\\MpClient.dll")});
    stage::Snapshot before_;
    std::optional<StagingUndo> undo_;
};

TEST_F(OlderRun, UprooterRemovesTheSuiteAndNothingElse)
{
    EXPECT_EQ(Run(), 0u) << "Uprooter's exit code after the older suite's removal";

    // The entry's lines beside the program that started it (Defender's
    // restore logs there too); the sequence's own log beside Uprooter.exe.
    const std::vector<std::string> callerLog = SplitLines(ReadFileBytes(caller_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(callerLog, {"Starting Uprooter...", "CurrentVersion is lesser than 10.0.0",
                                            "Uninstalling older product", "Restoring previous Windows Defender Status...",
                                            "Got Previous WDStatus as 1", "Restoring the previous windows defender status 1",
                                            "Completed setting WD status to 1...", "Closing logfile object: *"}));
    const std::vector<std::string> runLog = SplitLines(ReadFileBytes(app_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(
        runLog, {"Opened logfile object: *", "Uprooter.Exe, Version 6.0.2.001, ", " In removeProduct()",
                 "Set dwUnInstalling flag to 1", "Restoring path variable: *", "Opened logfile object: *",
                 "Deviations detected in VBScript and/or JavaScript registrations were fixed successfully",
                 "Supressing Reboot as per Command Line", "Closing logfile object: *", "Closing logfile object: *"}));

    // The suite's main keys are gone.
    for (win::RegView view : stage::Views())
        for (const wchar_t* key : {kMainKey, kFirewallKey})
            EXPECT_FALSE(MachineKeyExists(key, view)) << Narrow(key) << " is still there";

    // The engines are the system's again, in each view.
    for (win::RegView view : stage::Views()) {
        EXPECT_EQ(EngineModule(L"{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}", view), SystemFolder() + L"\\JScript.dll");
        EXPECT_EQ(EngineModule(L"{B54F3741-5B07-11cf-A4B0-00AA004A55E8}", view), SystemFolder() + L"\\VBScript.dll");
    }
    // Defender was asked for its state and then to enable.
    EXPECT_EQ(SplitLines(ReadFileBytes(calls_)), (std::vector<std::string>{"WDStatus -> 0", "WDEnable 1"}));

    // Of the whole suite only two things stay: the install folder, which waits
    // for the restart because a link to another product's folder is inside it
    // (the link is never followed), and the shared data folder's own
    // sub-folders, which go only with the Complete-cleanup option "-a".
    // Nothing outside the suite changed and another product's data survived.
    const stage::Audit audit = Audit();
    const std::string described = Narrow(stage::Describe(audit));
    for (const std::wstring& gone : {std::wstring(kMainKey), std::wstring(kFirewallKey), std::wstring(L"\\InprocServer32\\:"),
                                     std::wstring(kScriptScanHelperObject), std::wstring(L"\\Zelmar\\AGSSYSCORE")})
        EXPECT_FALSE(Mentions(audit.stillPresent, gone)) << Narrow(gone) << " still in:\n" << described;
    for (const std::wstring& left : audit.stillPresent) {
        const bool expected = left.rfind(stage::ProgramFiles32() + L"\\Zelmar\\Managed Quellor", 0) == 0 ||
                              left.find(L"\\ProgramData\\Zelmar\\") != std::wstring::npos;
        EXPECT_TRUE(expected) << Narrow(left) << " still present:\n" << described;
    }
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(audit.plantedMissing.empty()) << described;
    std::cout << described;

    // A second run on the cleaned machine harms nothing. Without the suite's
    // main key the agent's version reads as the newer suite's, so Uprooter
    // takes that road; with no Sweeper.exe beside it, it stops there.
    DeleteFileW(calls_.c_str());
    EXPECT_EQ(Run(), 0u) << "Uprooter's exit code on the cleaned machine";
    const std::vector<std::string> again = SplitLines(ReadFileBytes(caller_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(again, {"Uninstalling older product", "Starting Uprooter...", "Uninstalling newer product",
                                        "LaunchCleanupUtility(): FindFirstFile failed for File Sweeper.exe error: 2"}));
    EXPECT_FALSE(FileExists(calls_)) << "Defender was asked again";
    const stage::Audit second = Audit();
    EXPECT_EQ(second.stillPresent, audit.stillPresent) << Narrow(stage::Describe(second));
    EXPECT_TRUE(second.outsideChanged.empty() && second.plantedMissing.empty()) << Narrow(stage::Describe(second));
    ExpectPrefixAsFound();
}

// The suite's per-user keys go from the logged-on user's hive; another
// product's key beside them stays.
TEST_F(OlderRun, TheSuitesKeysLeaveTheUsersHive)
{
    UserKeys userKeys;
    EXPECT_EQ(Run(), 0u);
    for (const wchar_t* key : UserKeys::kSuite) EXPECT_FALSE(UserKeys::Exists(key)) << Narrow(key) << " in HKCU";
    EXPECT_TRUE(UserKeys::Exists(UserKeys::kForeign)) << "another product's key in HKCU went";
    ExpectPrefixAsFound();
}

}  // namespace
