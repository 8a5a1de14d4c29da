// The typical run of the newer suite, for real: the suite laid with msiexec,
// Uprooter.exe /suppressprompt started by a Windows program from the folder
// that holds what ships, Sweeper and the real Guardswitch at work, and an
// audit of the machine against how it was before the suite was laid.
#include <gtest/gtest.h>

#include "SuiteStage.h"
#include "SweeperTestSupport.h"

#include <msi.h>

#include <algorithm>
#include <iostream>
#include <optional>

using namespace testing_support;
using namespace sweeper_tests;

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The machine field of a program or library's PE header (0 when unreadable).
unsigned ImageMachine(const std::string& bytes)
{
    if (bytes.size() < 0x40) return 0;
    const size_t pe = static_cast<unsigned char>(bytes[0x3C]) | static_cast<unsigned char>(bytes[0x3D]) << 8;
    if (bytes.size() < pe + 6) return 0;
    return static_cast<unsigned char>(bytes[pe + 4]) | static_cast<unsigned char>(bytes[pe + 5]) << 8;
}

std::string Lines(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& line : lines) all += "\n    " + line;
    return all;
}

// Undoes the staging at scope end, whatever the run left.
class StagingUndo {
public:
    explicit StagingUndo(const stage::Snapshot& before) : before_(before) {}
    ~StagingUndo() { stage::Undo(before_); }
    StagingUndo(const StagingUndo&) = delete;
    StagingUndo& operator=(const StagingUndo&) = delete;

private:
    const stage::Snapshot& before_;
};

// Keeps the system's pending rename list as it was, restoring it at scope end.
class PendingRenamesKept {
public:
    PendingRenamesKept()
    {
        win::OpenKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE | KEY_SET_VALUE, win::RegView::Native, key_);
        DWORD bytes = 0;
        had_ = RegQueryValueExW(key_.get(), kPending, nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
        saved_.resize(bytes);
        if (had_) RegQueryValueExW(key_.get(), kPending, nullptr, nullptr, saved_.data(), &bytes);
    }
    ~PendingRenamesKept()
    {
        if (!had_) RegDeleteValueW(key_.get(), kPending);
        else RegSetValueExW(key_.get(), kPending, 0, REG_MULTI_SZ, saved_.data(), static_cast<DWORD>(saved_.size()));
    }
    PendingRenamesKept(const PendingRenamesKept&) = delete;
    PendingRenamesKept& operator=(const PendingRenamesKept&) = delete;

private:
    static constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr wchar_t kPending[] = L"PendingFileRenameOperations";
    win::Key key_;
    bool had_ = false;
    std::vector<BYTE> saved_;
};

class TypicalRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& folder : {app_, caller_, temp_}) CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_NO_FATAL_FAILURE(LayOutShipped(app_));
        ASSERT_TRUE(CopyFileW((X86Tree() + L"\\testbed\\stub\\launcher.exe").c_str(),
                              (caller_ + L"\\launcher.exe").c_str(), FALSE));

        before_ = stage::TakeSnapshot(Compared());
        undo_.emplace(before_);
        std::vector<std::wstring> problems = stage::Lay(
            {X86Tree() + L"\\testbed\\sweeper-suite", X86Tree() + L"\\testbed\\agent\\ZelmarAgent.msi"});
        std::string text;
        for (const std::wstring& problem : problems) text += "\n    " + Narrow(problem);
        ASSERT_TRUE(problems.empty()) << "staging failed:" << text;
        for (const stage::Product& product : stage::SuiteProducts())
            ASSERT_EQ(MsiQueryProductStateW(product.productCode), INSTALLSTATE_DEFAULT) << Narrow(product.name);
    }

    // Uprooter.exe /suppressprompt, started by the launcher with the shipped
    // folder as current folder, in a session whose PATH is the machine's.
    DWORD Run()
    {
        TempFolderOverride temp(temp_);
        ScopedEnv path(L"PATH", stage::SessionPath());
        ScopedEnv framework(L"ZL_BIZ_LOG", framework_);
        return RunAndWait(L"\"" + caller_ + L"\\launcher.exe\" \"" + app_ + L"\\Uprooter.exe\" /suppressprompt", app_,
                          900000);
    }

    // No product of the suite is known to Windows Installer or has an Uninstall key.
    static void ExpectSuiteUnregistered()
    {
        for (const stage::Product& product : stage::SuiteProducts()) {
            EXPECT_NE(MsiQueryProductStateW(product.productCode), INSTALLSTATE_DEFAULT)
                << Narrow(product.name) << " is still registered";
            for (win::RegView view : {win::RegView::Bit64, win::RegView::Bit32}) {
                win::Key key;
                EXPECT_NE(win::OpenKey(HKEY_LOCAL_MACHINE, kUninstall + product.productCode, KEY_READ, view, key),
                          ERROR_SUCCESS)
                    << Narrow(product.name) << ": Uninstall key still present in the "
                    << (view == win::RegView::Bit64 ? "64" : "32") << "-bit view";
            }
        }
    }

    std::vector<std::wstring> Compared() const { return {app_, caller_}; }
    std::vector<std::wstring> RunLogs() const { return {caller_ + L"\\Uprooter.log", app_ + L"\\Uprooter.log"}; }

    // Undoes the staging now and checks that the prefix is as the test found it.
    void ExpectPrefixAsFound()
    {
        undo_.reset();
        std::string changes;
        for (const std::wstring& change : stage::ChangesSince(before_, Compared(), RunLogs()))
            changes += "\n    " + Narrow(change);
        EXPECT_TRUE(changes.empty()) << "expected the prefix as before staging; found:" << changes;
    }

    // The values the framework was given, in order.
    std::vector<std::string> SelfProtection() const
    {
        std::vector<std::string> values;
        for (const std::string& line : SplitLines(ReadFileBytes(framework_)))
            if (line.rfind("BizSetPropertiesEx ", 0) == 0) values.push_back(line.substr(line.rfind('=') + 1));
        return values;
    }

    ScratchDir root_{L"typical-run"};
    const std::wstring app_ = root_ / L"Uprooter", caller_ = root_ / L"caller", temp_ = root_ / L"temp";
    const std::wstring framework_ = root_ / L"framework.calls";
    stage::Snapshot before_;
    std::optional<StagingUndo> undo_;
};

TEST_F(TypicalRun, UprooterRemovesTheNewerSuiteAndNothingElse)
{
    // The staged framework has the machine's bitness (checked below: only the
    // switch of that bitness can have set the property).
    const unsigned machine = stage::IsWindows64() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    for (const wchar_t* library : {L"zlbizframework.dll", L"ZlVariantExport.dll", L"LogLib.dll"})
        EXPECT_EQ(ImageMachine(ReadFileBytes(stage::PlatformFolder() + L"\\" + library)), machine)
            << Narrow(library) << " in the platform folder";

    const DWORD code = Run();
    EXPECT_EQ(code, 1u) << "Uprooter's exit code after the newer suite's removal";

    ExpectSuiteUnregistered();

    // Self-protection off before and on after each module, off before each
    // dependency (nothing is switched on after a dependency).
    const std::vector<std::string> expected = {"false", "true", "false", "true", "false", "false"};
    EXPECT_EQ(SelfProtection(), expected) << "framework record:\n" << ReadFileBytes(framework_);

    // Sweeper started the switch of the machine's bitness: the platform folder
    // holds libraries of that bitness only, so only that build could load the
    // framework and set the property.
    const std::vector<std::string> sweeper = LogMessages(temp_);
    const std::string platform = stage::IsWindows64() ? ">> Platform is 64-bit" : ">> Platform is 32-bit";
    EXPECT_EQ(std::count(sweeper.begin(), sweeper.end(), platform), 6) << Lines(sweeper);
    EXPECT_EQ(std::count(sweeper.begin(), sweeper.end(), ">> DisableSP succeeded"), 4) << Lines(sweeper);
    EXPECT_EQ(std::count(sweeper.begin(), sweeper.end(), ">> EnableSP succeeded"), 2) << Lines(sweeper);

    // The logs where they belong: the run log beside the program that started
    // Uprooter, Sweeper's log and one package log per entry in %TEMP%\ZelmarLogs.
    const std::vector<std::string> runLog = SplitLines(ReadFileBytes(caller_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(runLog, {"Starting Uprooter...", "Uninstalling newer product",
                                         "LaunchCleanupUtility(): Cleanup Utility found", "Running cleanup utility",
                                         "HostCommon uninstalled successfully", "Uninstalling ZA",
                                         "Closing logfile object: *"}));
    EXPECT_TRUE(ContainsInOrder(sweeper, {"Starting Sweeper", "Removing Endpoint Antivirus", "Removing AGS Connector",
                                          "Removing Endpoint Guard Platform", "Removing Endpoint Common Installer",
                                          "Removed Dependencies", "Clean uninstallation completed successfully"}));
    // The time budget: Sweeper and the agent's package are Uprooter's
    // children, each package Sweeper's.
    EXPECT_GT(StepTime(runLog, "LaunchCleanupUtility", "waiting for children"), 0);
    EXPECT_GT(StepTime(runLog, "RemoveAgentAfterHostCommon", "waiting for children"), 0);
    EXPECT_GT(StepTime(sweeper, "module Endpoint Antivirus", "waiting for children"), 0) << Lines(sweeper);
    EXPECT_GE(StepTime(sweeper, "Sweeper", "took"), StepTime(sweeper, "module Endpoint Antivirus", "took"));
    for (const auto* log : {&runLog, &sweeper})
        for (const std::string& line : *log)
            if (line.find("Timing: ") != std::string::npos) std::cout << line << "\n";
    std::vector<std::wstring> packageLogs;
    for (const std::wstring& name : LogFiles(temp_))
        if (name.rfind(L"Zelmar_Endpoint_Sweeper__", 0) == 0) packageLogs.push_back(name.substr(25, 4));
    std::sort(packageLogs.begin(), packageLogs.end());
    EXPECT_EQ(packageLogs, (std::vector<std::wstring>{L"AGS_", L"EAV_", L"ECI_", L"EGP_"}));

    // Nothing of the suite is left, nothing outside it changed, and another
    // product's data in the suite's folders and keys survived.
    const stage::Audit audit = stage::TakeAudit(before_, Compared(), RunLogs());
    EXPECT_TRUE(audit.stillPresent.empty() && audit.outsideChanged.empty() && audit.plantedMissing.empty())
        << "expected an empty audit apart from the restart; found:\n"
        << Narrow(stage::Describe(audit));
    std::cout << Narrow(stage::Describe(audit));
    ExpectPrefixAsFound();
}

// The same road where Wine reports the oldest Windows each program is for:
// Windows XP SP3 to the 32-bit programs, XP x64 (5.2.3790) to Guardswitch_x64.
TEST_F(TypicalRun, OnWindowsXpTheShippedProgramsRemoveTheSuiteAlike)
{
    WineWindowsVersion xp({L"Uprooter.exe", L"Sweeper.exe", L"Guardswitch_x86.exe"}, L"winxp");
    WineWindowsVersion xp64({L"Guardswitch_x64.exe"}, L"winxp64");
    EXPECT_EQ(Run(), 1u);
    ExpectSuiteUnregistered();
    const std::vector<std::string> sweeper = LogMessages(temp_);
    EXPECT_EQ(std::count(sweeper.begin(), sweeper.end(), ">> DisableSP succeeded"), 4) << Lines(sweeper);
    EXPECT_TRUE(ContainsInOrder(sweeper, {"Starting Sweeper", "Clean uninstallation completed successfully"}))
        << Lines(sweeper);
    ExpectPrefixAsFound();
}

}  // namespace

// The audit is not blind: on the staged suite it names every product, key and
// folder of the footprint, a key added beside the suite, a file left for the
// restart, and planted data that went.
TEST_F(TypicalRun, AuditNamesWhatIsLeftChangedOrGone)
{
    PendingRenamesKept pending;
    const std::wstring doomed = root_ / L"doomed.txt";
    ASSERT_TRUE(WriteFileBytes(doomed, "left for the restart"));
    ASSERT_TRUE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();

    const std::wstring stray = L"SOFTWARE\\Zelmar\\Stray";
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, stray, KEY_ALL_ACCESS, win::RegView::Bit32, key), ERROR_SUCCESS);
    }
    wchar_t programFiles[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    const std::wstring planted = std::wstring(programFiles) + L"\\Zelmar\\Other Product\\keep.txt";
    ASSERT_TRUE(DeleteFileW(planted.c_str())) << Narrow(planted);

    const stage::Audit audit = stage::TakeAudit(before_, Compared());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, stray.c_str(), KEY_WOW64_32KEY, 0);
    const std::string described = Narrow(stage::Describe(audit));
    auto has = [&](const std::vector<std::wstring>& list, const std::wstring& item) {
        return std::find(list.begin(), list.end(), item) != list.end();
    };
    for (const stage::Product& product : stage::SuiteProducts())
        EXPECT_TRUE(has(audit.stillPresent, std::wstring(product.name) + L" " + product.productCode +
                                                L" is registered with Windows Installer"))
            << Narrow(product.name) << " expected in:\n" << described;
    const std::wstring view32 = stage::IsWindows64() ? L"HKLM(32-bit view)\\" : L"HKLM\\";
    const std::wstring view64 = stage::IsWindows64() ? L"HKLM(64-bit view)\\" : L"HKLM\\";
    for (const std::wstring& key : {view64 + L"SOFTWARE\\Zelmar\\Endpoint", view32 + L"SOFTWARE\\Zelmar\\ManagedServices",
                                    view32 + L"SOFTWARE\\Zelmar\\ZuzadaZozi"})
        EXPECT_TRUE(has(audit.stillPresent, key)) << Narrow(key) << " expected in:\n" << described;
    EXPECT_TRUE(has(audit.stillPresent, stage::PlatformFolder())) << described;
    EXPECT_TRUE(has(audit.outsideChanged, L"added: " + view32 + stray)) << described;
    EXPECT_EQ(audit.plantedMissing, std::vector<std::wstring>{planted}) << described;
    EXPECT_TRUE(has(audit.pendingRestart, L"delete \\??\\" + doomed)) << described;
    ExpectPrefixAsFound();
}
