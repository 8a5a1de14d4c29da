// Sweeper against machine-wide state of the test prefix: real packages installed
// with msiexec, real keys in both registry views, real files held open, real
// children, and the whole program run as a support engineer runs it.
#include <gtest/gtest.h>

#include "Leftovers.h"
#include "MsiPackage.h"
#include "SweeperLog.h"
#include "SweeperTestSupport.h"
#include "Uninstall.h"

#include <msiquery.h>
#include <tlhelp32.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <regex>

using namespace testing_support;
using namespace sweeper_tests;
using sweeper::SweeperLog;
using win::RegView;

namespace {

const bool kThreadTagged = (sweeper::GetSweeperLog(), true);

// The suite's product codes (testbed/sweeper-suite, sweeper/SweeperConfig.xml).
const wchar_t kAntivirus[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000001}";
const wchar_t kAgsConnector[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000002}";
const wchar_t kPlatform[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000003}";
const wchar_t kCommonInstaller[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000004}";
// Registered as installed by a bare Uninstall key, unknown to Windows Installer.
const wchar_t kUnknownToInstaller[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E0000FF}";

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kPendingKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

bool IsWindows64()
{
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
}

bool KeyExists(const std::wstring& path, RegView view)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

std::string Text(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& line : lines) all += "\n    " + line;
    return all;
}

size_t Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// A log of this test's own in a scratch temporary folder.
class LogCapture {
public:
    LogCapture() : temp_(L"sweeper-machine-log"), override_(temp_.path()) {}
    SweeperLog& log() { return log_; }
    std::vector<std::string> messages() const { return LogMessages(temp_.path()); }

private:
    ScratchDir temp_;
    TempFolderOverride override_;
    SweeperLog log_;
};

// The pending rename list, restored as it was at scope end.
class PendingRenames {
public:
    PendingRenames() { saved_ = Read(&had_); }
    ~PendingRenames()
    {
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kPendingKey, KEY_SET_VALUE, RegView::Native, key);
        if (!had_) {
            RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
            return;
        }
        RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(saved_.data()), static_cast<DWORD>(saved_.size() * 2));
    }
    PendingRenames(const PendingRenames&) = delete;
    PendingRenames& operator=(const PendingRenames&) = delete;
    // Whether the list holds "\??\<path>" followed by an empty target.
    bool HasDeletion(const std::wstring& path) const
    {
        std::wstring data = Read(nullptr);
        std::wstring entry = std::wstring(L"\\??\\") + path;
        entry.push_back(L'\0');
        entry.push_back(L'\0');
        return data.find(entry) != std::wstring::npos;
    }

private:
    static std::wstring Read(bool* present)
    {
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kPendingKey, KEY_QUERY_VALUE, RegView::Native, key);
        DWORD bytes = 0;
        bool there = RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) ==
                     ERROR_SUCCESS;
        if (present) *present = there;
        std::wstring data(bytes / 2, L'\0');
        if (there)
            RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &bytes);
        return data;
    }
    bool had_ = false;
    std::wstring saved_;
};

// The one running process of that image name (most recent if there are several).
win::Handle OpenChild(const wchar_t* image)
{
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    DWORD pid = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, image) == 0) pid = entry.th32ProcessID;
    return win::Handle(pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : nullptr);
}

std::wstring LocalPackage(const wchar_t* productCode)
{
    wchar_t path[520] = {};
    DWORD units = 520;
    return MsiGetProductInfoW(productCode, L"LocalPackage", path, &units) == ERROR_SUCCESS ? path : L"";
}

// Rows of the product's cached package: first column text, second column as text.
std::map<std::wstring, std::wstring> PackageRows(const wchar_t* productCode, const wchar_t* query)
{
    std::map<std::wstring, std::wstring> rows;
    win::MsiHandle database, view, record;
    if (MsiOpenDatabaseW(LocalPackage(productCode).c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(database.get(), query, view.put()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return rows;
    while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS) {
        wchar_t key[260] = {}, value[260] = {};
        DWORD k = 260, v = 260;
        MsiRecordGetStringW(record.get(), 1, key, &k);
        MsiRecordGetStringW(record.get(), 2, value, &v);
        rows[key] = value;
    }
    return rows;
}

std::map<std::wstring, std::wstring> CustomActionTypes(const wchar_t* productCode)
{
    return PackageRows(productCode, L"SELECT `Action`, `Type` FROM `CustomAction`");
}

// Removes a suite product however the test left it: softened first, so its
// failing custom action cannot keep it installed.
void EnsureUninstalled(const wchar_t* productCode)
{
    if (LocalPackage(productCode).empty()) return;
    std::vector<sweeper::CustomActionRecord> records;
    sweeper::CollectCustomActions(productCode, records);
    sweeper::ApplyCustomActions(productCode, records);
    sweeper::EditPackage(L"0", productCode, L"RemoveCommonInstaller", L"InstallExecuteSequence", L"Condition");
    UninstallProduct(productCode);
}

// --- Windows Installer package editing -------------------------------------------

TEST(SweeperPackageEditing, SofteningLetsAFailingUninstallThrough)
{
    ASSERT_EQ(InstallPackage(L"EndpointAntivirus"), 0u);
    ASSERT_FALSE(LocalPackage(kAntivirus).empty());
    EXPECT_EQ(UninstallProduct(kAntivirus), 1603u) << "the package's custom action fails its uninstall";
    ASSERT_TRUE(sweeper::IsProductInstalled(kAntivirus)) << "a failed uninstall keeps the product";

    std::vector<sweeper::CustomActionRecord> records;
    ASSERT_TRUE(sweeper::CollectCustomActions(kAntivirus, records));
    std::map<std::wstring, int> collected;
    for (const auto& r : records) collected[r.action] = r.newType;
    const std::map<std::wstring, int> expected = {
        {L"FailOnRemove", 2049 | 0x40}, {L"ExeFromBinary", 66},  {L"DllInstalled", 81},  {L"ExeInstalled", 82},
        {L"ExeInFolder", 98},           {L"ExeByProperty", 114}, {L"ScheduledExe", 3138}};
    EXPECT_EQ(collected, expected) << "code-running kinds without the continue flag, flag added";
    EXPECT_EQ(CustomActionTypes(kAntivirus).at(L"FailOnRemove"), L"2049") << "collecting changes nothing";

    EXPECT_TRUE(sweeper::ApplyCustomActions(kAntivirus, records));
    const std::map<std::wstring, std::wstring> after = CustomActionTypes(kAntivirus);
    for (const auto& [action, type] : expected) EXPECT_EQ(after.at(action), std::to_wstring(type)) << Narrow(action);
    EXPECT_EQ(after.at(L"ScriptFromBinary"), L"6") << "scripts are not touched";
    EXPECT_EQ(after.at(L"AlreadySoftened"), L"66");
    records.clear();
    EXPECT_TRUE(sweeper::CollectCustomActions(kAntivirus, records));
    EXPECT_TRUE(records.empty()) << "a softened package has nothing left to soften";

    EXPECT_TRUE(sweeper::EditPackage(L"0", kAntivirus, L"FailOnRemove", L"InstallExecuteSequence", L"Condition"));
    EXPECT_EQ(
        PackageRows(kAntivirus, L"SELECT `Action`, `Condition` FROM `InstallExecuteSequence`").at(L"FailOnRemove"),
        L"0");
    EXPECT_FALSE(sweeper::EditPackage(L"0", kAntivirus, L"FailOnRemove", L"NoSuchTable", L"Condition"));

    EXPECT_EQ(UninstallProduct(kAntivirus), 0u);
    EXPECT_FALSE(sweeper::IsProductInstalled(kAntivirus));
}

// --- Installed check, build decision, reference count -------------------------------

TEST(SweeperInstalledCheck, ExactProductCodeInEitherView)
{
    const std::wstring code = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E0000EE}";
    std::wstring lower = code;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    EXPECT_FALSE(sweeper::IsProductInstalled(code.c_str()));
    for (RegView view : {RegView::Bit32, RegView::Bit64}) {
        ScratchKey key(HKEY_LOCAL_MACHINE, kUninstall + code, view);
        EXPECT_TRUE(sweeper::IsProductInstalled(code.c_str())) << "view " << static_cast<int>(view);
        EXPECT_FALSE(sweeper::IsProductInstalled(lower.c_str())) << "names are compared exactly";
    }
}

class SweeperSuiteRegistry : public ::testing::Test {
protected:
    // The suite's own keys are written by its installers into the 64-bit view.
    SweeperSuiteRegistry() : zelmar_(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", RegView::Bit64) {}
    void SetBuild(const wchar_t* build, const wchar_t* package)
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Common", KEY_ALL_ACCESS,
                                 RegView::Bit64, key),
                  ERROR_SUCCESS);
        win::WriteString(key.get(), L"BuildNumber", build);
        win::WriteString(key.get(), L"PackageNumber", package);
    }
    void SetReferenceCount(const DWORD* count)
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Installer", KEY_ALL_ACCESS,
                                 RegView::Bit64, key),
                  ERROR_SUCCESS);
        if (count) win::WriteDword(key.get(), L"InstallReferenceCount", *count);
    }
    DWORD ReferenceCount()
    {
        win::Key key;
        DWORD count = 0xDEAD;
        win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Installer", KEY_READ, RegView::Bit64,
                     key);
        win::ReadDword(key.get(), L"InstallReferenceCount", count);
        return count;
    }
    void SetInstallFolders(const std::wstring& dir32, const std::wstring& dir64)
    {
        win::Key key;
        ASSERT_EQ(
            win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint", KEY_ALL_ACCESS, RegView::Bit64, key),
            ERROR_SUCCESS);
        win::WriteString(key.get(), L"szInstallDir32", dir32);
        win::WriteString(key.get(), L"szInstallDir64", dir64);
    }
    static sweeper::SweeperConfiguration ConfigWithBetaBuilds()
    {
        sweeper::SweeperConfiguration config;
        config.dependencies.push_back({});
        config.dependencies[0].RefCountBuildValues = {L"10.2.1100.7", L"10.2.1105.2"};
        return config;
    }
    ScratchKey zelmar_;
};

TEST_F(SweeperSuiteRegistry, BuildDecisionIsMadeOnceAndKept)
{
    const sweeper::SweeperConfiguration config = ConfigWithBetaBuilds();
    {
        LogCapture capture;
        sweeper::Uninstaller uninstaller(capture.log(), config);
        EXPECT_TRUE(uninstaller.BuildCheck()) << "no build values: counted as beta";
        SetBuild(L"10.2.1200", L"3");
        EXPECT_TRUE(uninstaller.BuildCheck()) << "the first decision holds";
        EXPECT_TRUE(capture.messages().empty()) << Text(capture.messages());
    }
    {
        LogCapture capture;
        sweeper::Uninstaller uninstaller(capture.log(), config);
        EXPECT_FALSE(uninstaller.BuildCheck());
        SetBuild(L"10.2.1105", L"2");
        EXPECT_FALSE(uninstaller.BuildCheck()) << "the first decision holds";
        EXPECT_EQ(capture.messages(), (std::vector<std::string>{"EGP Build Number : 10.2.1200.3  ", "Not Beta build"}));
    }
    {
        LogCapture capture;
        sweeper::Uninstaller uninstaller(capture.log(), config);
        EXPECT_TRUE(uninstaller.BuildCheck());
        EXPECT_EQ(capture.messages(),
                  (std::vector<std::string>{"EGP Build Number : 10.2.1105.2  ",
                                            "Retrieved Build Number matched with  Beta build number"}));
    }
    {
        LogCapture capture;
        sweeper::Uninstaller uninstaller(capture.log(), sweeper::SweeperConfiguration{});
        EXPECT_FALSE(uninstaller.BuildCheck()) << "without dependencies there are no beta builds";
    }
}

TEST_F(SweeperSuiteRegistry, ReferenceCountRules)
{
    const sweeper::SweeperConfiguration config;
    LogCapture capture;
    sweeper::Uninstaller uninstaller(capture.log(), config);
    EXPECT_TRUE(uninstaller.UpdateReferenceCount(false)) << "a missing key lets the uninstall go on";
    EXPECT_TRUE(
        ContainsInOrder(capture.messages(), {"Root key cannot be opened to read reference. GetLastError * dwRetVal 2",
                                             "Proceeding with uninstall as a special case"}));
    SetReferenceCount(nullptr);
    EXPECT_TRUE(uninstaller.UpdateReferenceCount(false));
    EXPECT_EQ(ReferenceCount(), 0xDEADu) << "a module never writes a count it could not read";
    const DWORD five = 5, one = 1;
    SetReferenceCount(&five);
    EXPECT_TRUE(uninstaller.UpdateReferenceCount(false));
    EXPECT_EQ(ReferenceCount(), 5u);
    EXPECT_TRUE(uninstaller.UpdateReferenceCount(true));
    EXPECT_EQ(ReferenceCount(), 0u);
    SetReferenceCount(&one);
    EXPECT_TRUE(uninstaller.UpdateReferenceCount(false));
    EXPECT_EQ(ReferenceCount(), 2u);
    EXPECT_TRUE(ContainsInOrder(capture.messages(), {"Reference count retrieved 5", "Reference count retrieved 1"}));
}

// --- The process runner ----------------------------------------------------------

TEST(SweeperRunProcess, ResultCodes)
{
    LogCapture capture;
    EXPECT_EQ(sweeper::RunProcess(capture.log(), L"cmd.exe /c exit 3010", INFINITE), 0u);
    EXPECT_EQ(sweeper::RunProcess(capture.log(), L"cmd.exe /c exit 0", INFINITE), 0u);
    EXPECT_TRUE(capture.messages().empty()) << "success is not logged";
    EXPECT_EQ(sweeper::RunProcess(capture.log(), L"cmd.exe /c exit 1605", INFINITE), 1605u);
    EXPECT_EQ(sweeper::RunProcess(capture.log(), L"no-such-program-zl.exe", INFINITE), sweeper::kRunLaunchFailed);
    std::vector<std::string> lines = capture.messages();
    ASSERT_EQ(lines.size(), 4u) << Text(lines);
    EXPECT_EQ(lines[0], "process return code : 1605");
    EXPECT_EQ(lines[1], "Unknown product.") << "the system's text for 1605";
    EXPECT_EQ(lines[2], "File not found.") << "the system's text for the launch error";
    EXPECT_EQ(lines[3], "process launch failed!!");
}

TEST(SweeperRunProcess, WaitThatRunsOutLeavesTheChildRunning)
{
    LogCapture capture;
    const std::wstring event = L"ZelmarSweeperTestRelease" + std::to_wstring(GetCurrentProcessId());
    win::Handle release(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    ASSERT_TRUE(release);
    const std::wstring child = L"\"" + ProgramDir() + L"\\hold_child.exe\" " + event + L" 7";
    EXPECT_EQ(sweeper::RunProcess(capture.log(), child.c_str(), 50), sweeper::kRunTimedOut);
    EXPECT_TRUE(capture.messages().empty());
    // The child is still there after the time-out, and still waits for its release.
    win::Handle held = OpenChild(L"hold_child.exe");
    ASSERT_TRUE(held) << "the child did not outlive the time-out";
    EXPECT_EQ(WaitForSingleObject(held.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(held.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(held.get(), &code);
    EXPECT_EQ(code, 7u) << "the child ended on its release, not by the time-out";
    // The same child, released at once, ends normally.
    EXPECT_EQ(sweeper::RunProcess(capture.log(), child.c_str(), INFINITE), 7u);
}

// --- Leftover removal: folders ------------------------------------------------------

TEST(SweeperFolderRemoval, TreeGoesWithReadOnlyFilesThenEmptyParents)
{
    ScratchDir scratch(L"sweeper-folder");
    ASSERT_TRUE(WriteFileBytes(scratch / L"keep.txt", "not the suite's"));
    const std::wstring install = scratch / L"Zelmar\\Endpoint";
    SHCreateDirectoryExW(nullptr, (install + L"\\bin\\deep").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(install + L"\\a.txt", "a"));
    ASSERT_TRUE(WriteFileBytes(install + L"\\bin\\deep\\b.txt", "b"));
    ASSERT_TRUE(WriteFileBytes(install + L"\\readonly.txt", "r"));
    SetFileAttributesW((install + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    LogCapture capture;
    EXPECT_TRUE(sweeper::RemoveProductDirectory(capture.log(), install + L"\\"));
    EXPECT_FALSE(FileExists(install));
    EXPECT_FALSE(FileExists(scratch / L"Zelmar")) << "an empty parent goes too";
    EXPECT_TRUE(FileExists(scratch / L"keep.txt")) << "the walk ends at the first folder that is not empty";
    const std::string dir = Narrow(install);
    EXPECT_TRUE(ContainsInOrder(
        capture.messages(),
        {"Begin RemoveProductDirectory", dir + "\\", dir, "Removing file : " + dir + "\\a.txt",
         "File deleted succesfully", "Removing file : " + dir + "\\bin\\deep\\b.txt", "File deleted succesfully",
         "Removing file : " + dir + "\\readonly.txt", "File deleted succesfully", "End RemoveProductDirectory"}));
}

TEST(SweeperFolderRemoval, LinksAreRemovedNeverFollowed)
{
    const std::wstring root = L"C:\\zltest-links";
    ASSERT_TRUE(FileExists(root + L"\\target\\precious.txt")) << "the link fixture (links.sh) did not run";
    const DWORD linkAttributes = GetFileAttributesW((root + L"\\sweep\\Endpoint\\sub\\linked").c_str());
    ASSERT_NE(linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the folder link is no reparse point here";

    LogCapture capture;
    sweeper::RemoveProductDirectory(capture.log(), root + L"\\sweep\\Endpoint");
    EXPECT_TRUE(FileExists(root + L"\\target\\precious.txt")) << "DeleteAll followed a link out of the install folder";
    EXPECT_FALSE(FileExists(root + L"\\sweep\\Endpoint\\inner.txt"));
    EXPECT_FALSE(FileExists(root + L"\\sweep\\Endpoint\\sub\\deeper.txt"));
    EXPECT_TRUE(ContainsInOrder(capture.messages(), {"Not following link, removing the link itself : " + Narrow(root) +
                                                     "\\sweep\\Endpoint\\sub\\linked"}));

    // An install folder that is itself a link.
    sweeper::RemoveProductDirectory(capture.log(), root + L"\\sweep\\EndpointLink\\");
    EXPECT_TRUE(FileExists(root + L"\\target\\precious.txt")) << "RemoveProductDirectory followed a folder link";

    // An install folder reached through a link higher up its path.
    LogCapture through;
    EXPECT_FALSE(sweeper::RemoveProductDirectory(through.log(), root + L"\\via\\Endpoint\\"));
    EXPECT_TRUE(FileExists(root + L"\\target\\Endpoint\\victim.txt")) << "the deletion went through a link";
    EXPECT_TRUE(ContainsInOrder(through.messages(), {"!> Refusing to remove a folder that is not the suite's : " +
                                                     Narrow(root) + "\\via\\Endpoint"}));
}

TEST(SweeperFolderRemoval, PathLongerThanItsBufferIsSkippedNotCut)
{
    ScratchDir scratch(L"sweeper-long");
    const std::wstring install = scratch / L"Endpoint";
    const std::wstring longFolder = install + L"\\" + std::wstring(230 - install.size(), L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + install).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + longFolder).c_str(), nullptr));
    const std::wstring longFile = longFolder + L"\\" + std::wstring(40, L'f') + L".txt";
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + longFile, "kept"));

    LogCapture capture;
    sweeper::DeleteAll(capture.log(), install);
    EXPECT_TRUE(FileExists(L"\\\\?\\" + longFile));
    bool skipped = false;
    for (const std::string& line : capture.messages())
        skipped |= line.rfind("!> Path does not fit its buffer, skipped : ", 0) == 0;
    EXPECT_TRUE(skipped) << Text(capture.messages());
    DeleteFileW((L"\\\\?\\" + longFile).c_str());
    RemoveDirectoryW((L"\\\\?\\" + longFolder).c_str());
}

TEST_F(SweeperSuiteRegistry, InstallFolderValuesThatNameNoSuiteFolderAreRefused)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    // Markers of what is not the suite's: in the Windows folder, in a folder of
    // its own there, and in Program Files.
    wchar_t programFiles[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    const std::wstring victim = std::wstring(windows) + L"\\zl-sweeper-victim";
    CreateDirectoryW(victim.c_str(), nullptr);
    const std::wstring markers[] = {std::wstring(windows) + L"\\zl-sweeper-marker.txt", victim + L"\\marker.txt",
                                    std::wstring(programFiles) + L"\\zl-sweeper-marker.txt"};
    for (const std::wstring& marker : markers) ASSERT_TRUE(WriteFileBytes(marker, "the system's"));
    wchar_t shortProgramFiles[MAX_PATH] = {};
    GetShortPathNameW(programFiles, shortProgramFiles, MAX_PATH);
    ASSERT_NE(wcschr(shortProgramFiles, L'~'), nullptr) << "no short form of " << Narrow(programFiles);
    const std::wstring tooLong = L"C:\\" + std::wstring(140, L'z') + L"\\";
    const std::string windowsText = Narrow(windows);
    struct Case {
        std::wstring value;
        std::string refused;
    } cases[] = {{std::wstring(windows) + L"\\", windowsText},
                 {L"C:\\", "C:"},
                 {L"", ""},
                 {tooLong, ""},
                 {L"\\\\.\\" + victim + L"\\", "\\\\.\\" + Narrow(victim)},
                 {L"\\\\.\\C:\\", "\\\\.\\C:"},
                 {std::wstring(shortProgramFiles) + L"\\", Narrow(shortProgramFiles)}};
    for (const Case& c : cases) {
        SetInstallFolders(c.value, c.value);
        LogCapture capture;
        sweeper::RemoveLeftovers(capture.log());
        std::vector<std::string> lines = capture.messages();
        for (const std::wstring& marker : markers)
            EXPECT_TRUE(FileExists(marker)) << "value \"" << Narrow(c.value) << "\" deleted " << Narrow(marker);
        EXPECT_TRUE(ContainsInOrder(
            lines, {"Removing Directories", "!> Refusing to remove a folder that is not the suite's : " + c.refused,
                    "End RemoveProductDirectory", "Removing Directories failed", "Removing Registries"}))
            << "value \"" << Narrow(c.value) << "\"";
        if (c.value == tooLong) {
            EXPECT_TRUE(ContainsInOrder(lines, {"!> szInstallDir64 does not fit its buffer and is not used"}));
        }
    }
    for (const std::wstring& marker : markers) DeleteFileW(marker.c_str());
    RemoveDirectoryW(victim.c_str());
}

// The texts of odd byte count, without a terminator, and to be expanded, as
// RemoveLeftovers takes them and logs them.
TEST_F(SweeperSuiteRegistry, InstallFolderTextIsWhatTheValueHolds)
{
    ScratchDir scratch(L"sweeper-values");
    ScopedEnv where(L"ZL_SWEEPER_SCRATCH", scratch.path());
    const std::wstring expandable = L"%ZL_SWEEPER_SCRATCH%\\Endpoint\\";
    SHCreateDirectoryExW(nullptr, (scratch / L"Endpoint\\bin").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(scratch / L"Endpoint\\bin\\agent.dll", "suite"));
    // 129 whole units and half of one more: the stored text has no terminator.
    std::wstring odd = scratch / L"";
    odd += std::wstring(129 - odd.size(), L'o');
    odd += L'x';
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint", KEY_ALL_ACCESS, RegView::Bit64, key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), L"szInstallDir32", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(expandable.c_str()),
                             static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), L"szInstallDir64", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd.c_str()), 259),
              ERROR_SUCCESS);
    const std::string expanded = Narrow(scratch.path()) + "\\Endpoint";
    const std::string oddText = Narrow(odd.substr(0, 129));

    LogCapture capture;
    sweeper::RemoveLeftovers(capture.log());
    const std::vector<std::string> lines = capture.messages();
    if (IsWindows64()) {
        EXPECT_TRUE(ContainsInOrder(lines, {"Begin RemoveProductDirectory", expanded + "\\", expanded,
                                            "End RemoveProductDirectory"}));
        EXPECT_FALSE(FileExists(scratch / L"Endpoint")) << "the expanded folder names the suite's folder";
    }
    EXPECT_TRUE(ContainsInOrder(lines, {"Begin RemoveProductDirectory", oddText, oddText, "!> DeleteAll Failed: *"}))
        << "the text read is not the 129 units the value holds";
}

// --- Leftover removal: registry -------------------------------------------------------

TEST(SweeperKeyRemoval, KeyTreeGoesLeafFirstInEveryView)
{
    const std::wstring base = L"SOFTWARE\\ZelmarSweeperTest";
    const std::wstring leaf = base + L"\\a\\b\\c";
    std::vector<RegView> views = {RegView::Bit64, RegView::Bit32};
    for (RegView view : views) {
        win::Key key, sibling;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, leaf, KEY_ALL_ACCESS, view, key), ERROR_SUCCESS);
        win::WriteString(key.get(), L"v", L"x");
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, base + L"\\a\\b2", KEY_ALL_ACCESS, view, sibling),
                  ERROR_SUCCESS);
    }
    LogCapture capture;
    EXPECT_TRUE(sweeper::RemoveRegistryKey(capture.log(), base.c_str()));
    for (RegView view : views) EXPECT_FALSE(KeyExists(base, view)) << "view " << static_cast<int>(view);
    std::vector<std::string> lines = capture.messages();
    const std::string b = Narrow(base);
    std::vector<std::string> tree = {b,
                                     "Deleting registry did not work. Return code : 5. Will try recursively",
                                     "RegOpenKeyEx passed",
                                     "RegEnumKeyEx passed",
                                     b + "\\a",
                                     b + "\\a\\b",
                                     b + "\\a\\b\\c",
                                     "Deleting regkey worked succesfully",
                                     b + "\\a\\b2"};
    if (IsWindows64()) {
        std::vector<std::string> expected = {"AdvAPI32.dll loaded succesfully",
                                             "GetProcAddress for RegDeleteKeyExW obtained succesfully"};
        expected.insert(expected.end(), tree.begin(), tree.end());
        expected.push_back(">> Remove Endpoint Wow Registry Success in 64 bit!");
        expected.insert(expected.end(), tree.begin(), tree.end());
        expected.push_back(">> Remove Endpoint Registry Success in 64 bit!");
        EXPECT_TRUE(ContainsInOrder(lines, expected));
        EXPECT_EQ(Count(lines, ">> Remove Endpoint Registry Success in 32 bit!"), 0u);
    } else {
        tree.push_back(">> Remove Endpoint Registry Success in 32 bit!");
        EXPECT_TRUE(ContainsInOrder(lines, tree));
        EXPECT_EQ(Count(lines, ">> Remove Endpoint Wow Registry Success in 64 bit!"), 0u);
    }

    // Once per listing of subkeys: the base, "a" (two subkeys) and "b", in each view.
    EXPECT_EQ(Count(lines, "RegEnumKeyEx passed"), IsWindows64() ? 6u : 3u);

    LogCapture again;
    EXPECT_TRUE(sweeper::RemoveRegistryKey(again.log(), base.c_str())) << "a missing key counts as removed";
    EXPECT_TRUE(ContainsInOrder(again.messages(), {"!> Key not found!"}));
}

// --- The whole program --------------------------------------------------------------

// The plan that ships in dist/.
std::string ShippedConfig() { return ReadFileBytes(X86Tree() + L"\\sweeper\\SweeperConfig.xml"); }

// A module and a dependency that look installed but have no cached package,
// so a run of their plan is not clean and removes the leftovers.
class FailingEntries {
public:
    FailingEntries()
        : module_(HKEY_LOCAL_MACHINE, kUninstall + kUnknownToInstaller, RegView::Bit32),
          dependency_(HKEY_LOCAL_MACHINE, kUninstall + kDependencyCode, RegView::Bit32)
    {
    }
    static std::string Plan()
    {
        return "<Sweeper UninstallTimeout=\"60\" SleepTimeSlice=\"1\"><Modules>"
               "<UninstallerConfigurationInfo Name=\"Endpoint Antivirus\" ProductCode=\"" +
               Narrow(kUnknownToInstaller) +
               "\" Prefix=\"EAV_\"/>"
               "<UninstallerConfigurationInfo Name=\"AGS Connector\" ProductCode=\"" +
               Narrow(kAgsConnector) +
               "\" Prefix=\"AGS_\"/></Modules><Dependencies>"
               "<UninstallerConfigurationInfo Name=\"Endpoint Guard Platform\" ProductCode=\"" +
               Narrow(kDependencyCode) + "\" Prefix=\"EGP_\"/></Dependencies></Sweeper>";
    }

private:
    static constexpr wchar_t kDependencyCode[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E0000FE}";
    ScratchKey module_, dependency_;
};

class SweeperRun : public SweeperSuiteRegistry {
protected:
    SweeperRun() : app_(L"sweeper-run-app"), temp_(L"sweeper-run-temp"), folders_(L"sweeper-run-folders")
    {
        WriteFileBytes(folders_ / L"keep.txt", "another product's");
    }
    ~SweeperRun() override
    {
        for (const wchar_t* code : {kAntivirus, kAgsConnector, kPlatform, kCommonInstaller}) EnsureUninstalled(code);
    }
    RunResult Run(const std::string& config, DWORD timeoutMs = 600000)
    {
        LayOutSweeper(app_.path(), config);
        return RunSweeperIn(app_.path(), L"/qn", temp_.path(), timeoutMs);
    }
    std::string Guardswitch() const { return ReadFileBytes(app_ / L"Guardswitch.calls"); }
    static std::string Switch(const char* argument)
    {
        return std::string(IsWindows64() ? "Guardswitch_x64.exe " : "Guardswitch_x86.exe ") + argument + "\r\n";
    }
    std::string CommandLine(const std::vector<std::string>& lines, const std::string& prefix, const std::string& code)
    {
        const std::string start = "msiexec.exe /x \"" + code + "\" /qn /l*v \"" + Narrow(temp_.path()) +
                                  "\\ZelmarLogs\\Zelmar_Endpoint_Sweeper__" + prefix + "_";
        for (const std::string& line : lines)
            if (line.rfind(start, 0) == 0) return line.substr(start.size());
        return "(no command line for " + code + ")";
    }
    ScratchDir app_, temp_, folders_;
};

TEST_F(SweeperRun, ReleasedBuildUninstallsEveryEntryAndSwitchesOffCommonRemoval)
{
    for (const wchar_t* package : {L"EndpointAntivirus", L"AgsConnector", L"GuardPlatform", L"CommonInstaller"})
        ASSERT_EQ(InstallPackage(package), 0u) << Narrow(package);
    SetBuild(L"10.2.1200", L"3");
    SetInstallFolders(folders_ / L"x86\\", folders_ / L"x64\\");

    RunResult r = Run(ShippedConfig());
    EXPECT_EQ(r.exitCode, 0u);
    const std::string platform =
        Narrow(folders_.path()) + (IsWindows64() ? "\\x64\\" : "\\x86\\") + "Endpoint Guard Platform";
    EXPECT_TRUE(ContainsInOrder(r.messages,
                                {"Starting Sweeper",
                                 "Commandline : /qn  ",
                                 "Uninstalling silently",
                                 "Removing Modules",
                                 "Removing Endpoint Antivirus",
                                 "EGP Build Number : 10.2.1200.3  ",
                                 "Not Beta build",
                                 "Using NOEGPRemove",
                                 "Get Common Install Path",
                                 platform,
                                 "Disabling SP",
                                 "DisableSP started",
                                 "DisableSP ended",
                                 "Uninstallation Success",
                                 "Enabling SP",
                                 "EnableSP started",
                                 ">> EnableSP succeeded",
                                 "EnableSP ended",
                                 "Removing AGS Connector",
                                 "AGS Module is present on target. Attempting to disable EGP removal by editing MSI",
                                 "msi modified succesfully",
                                 "Uninstallation Success",
                                 "Removed Modules",
                                 "Removing Dependencies",
                                 "Removing Endpoint Guard Platform",
                                 "Using NOEGPRemove",
                                 "Disabling SP",
                                 "Uninstallation Success",
                                 "Enabling SP",
                                 "Removing Endpoint Common Installer",
                                 "Using NOEGPRemove",
                                 "Disabling SP",
                                 "Uninstallation Success",
                                 "Enabling SP",
                                 "Removed Dependencies",
                                 "Clean uninstallation completed successfully"}));
    EXPECT_EQ(Count(r.messages, "Not Beta build"), 1u) << "the build is decided once";
    EXPECT_EQ(Count(r.messages, "EnableSP started"), 2u) << "only modules switch protection back on";
    for (const std::string& line : r.messages)
        EXPECT_EQ(line.find("Not searching"), std::string::npos) << "the suite's folder is searched: " << line;

    const std::string stamp = R"(\d{16,17}\.log" )";
    EXPECT_TRUE(
        std::regex_match(CommandLine(r.messages, "EAV_", Narrow(kAntivirus)), std::regex(stamp + "NOEGPREMOVE=1")));
    EXPECT_TRUE(std::regex_match(CommandLine(r.messages, "EGP_", Narrow(kPlatform)),
                                 std::regex(stamp + "NOEGPREMOVE=1 REMOVECOMMON=1")))
        << CommandLine(r.messages, "EGP_", Narrow(kPlatform));
    EXPECT_TRUE(std::regex_match(CommandLine(r.messages, "ECI_", Narrow(kCommonInstaller)),
                                 std::regex(stamp + "NOEGPREMOVE=1 REMOVECOMMON=1")))
        << CommandLine(r.messages, "ECI_", Narrow(kCommonInstaller));
    EXPECT_EQ(Guardswitch(), Switch("/disablesp") + Switch("/enablesp") + Switch("/disablesp") + Switch("/enablesp") +
                                 Switch("/disablesp") + Switch("/disablesp"));

    // The verbose package logs lie beside the run log and saw the properties.
    std::string platformLog, commonLog;
    for (const std::wstring& name : LogFiles(temp_.path())) {
        if (name.rfind(L"Zelmar_Endpoint_Sweeper__EGP__", 0) == 0)
            platformLog = ReadFileBytes(temp_ / (L"ZelmarLogs\\" + name));
        if (name.rfind(L"Zelmar_Endpoint_Sweeper__ECI__", 0) == 0)
            commonLog = ReadFileBytes(temp_ / (L"ZelmarLogs\\" + name));
    }
    EXPECT_NE(platformLog.find("NOEGPREMOVE = 1"), std::string::npos);
    EXPECT_NE(platformLog.find("REMOVECOMMON = 1"), std::string::npos);
    EXPECT_EQ(LogFiles(temp_.path()).size(), 5u);

    for (const wchar_t* code : {kAntivirus, kAgsConnector, kPlatform, kCommonInstaller})
        for (RegView view : {RegView::Bit32, RegView::Bit64})
            EXPECT_FALSE(KeyExists(kUninstall + code, view)) << Narrow(code) << " still registered";

    // The common installer went although its removal step fails: the edit for
    // "AGS Connector" switched that step off, so it never started.
    EXPECT_NE(commonLog.find("InstallFinalize"), std::string::npos) << commonLog;
    EXPECT_EQ(commonLog.find(": RemoveCommonInstaller."), std::string::npos) << commonLog;
    EXPECT_TRUE(FileExists(folders_ / L"keep.txt")) << "a clean run removes no folder";
}

TEST_F(SweeperRun, BetaBuildKeepsThePlatformByReferenceCountAndGoesOnWithoutTheSwitch)
{
    for (const wchar_t* package : {L"EndpointAntivirus", L"AgsConnector", L"GuardPlatform"})
        ASSERT_EQ(InstallPackage(package), 0u) << Narrow(package);
    SetBuild(L"10.2.1100", L"7");
    const DWORD one = 1;
    SetReferenceCount(&one);
    ASSERT_TRUE(WriteFileBytes(app_ / L"Guardswitch.exitcode", "5"));  // the switch refuses every call
    // An install folder reached through a link never joins the library search.
    SetInstallFolders(L"C:\\zltest-links\\via\\", L"C:\\zltest-links\\via\\");
    const std::string notSearched = "!> Not searching a folder that is not the suite's for libraries : "
                                    "C:\\zltest-links\\via\\Endpoint Guard Platform";

    RunResult r = Run(ShippedConfig());
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(ContainsInOrder(
        r.messages,
        {"Removing Endpoint Antivirus", "EGP Build Number : 10.2.1100.7  ",
         "Retrieved Build Number matched with  Beta build number", "Setting/Resetting Ref Count",
         "Reference count retrieved 1", "DisableSP started", notSearched, ">> Could not run command line to disable SP",
         "Return value : 5", "DisableSP ended", "Cannot disable SP", "Uninstallation Success", "Enabling SP",
         "EnableSP started", ">> Could not run command line to enable SP", "Return value : 5", "EnableSP ended",
         "Cannot enable SP", "Removing AGS Connector",
         "Setting/Resetting Ref Count", "Reference count retrieved 2", "Removing Endpoint Guard Platform",
         "Setting/Resetting Ref Count", "Uninstallation Success", "Clean uninstallation completed successfully"}));
    EXPECT_EQ(Count(r.messages, "AGS Module is present on target. Attempting to disable EGP removal by editing MSI"),
              0u);
    EXPECT_EQ(ReferenceCount(), 0u) << "the dependency resets the count";
    const std::string stamp = R"(\d{16,17}\.log" )";
    EXPECT_TRUE(std::regex_match(CommandLine(r.messages, "AGS_", Narrow(kAgsConnector)), std::regex(stamp)));
    EXPECT_TRUE(
        std::regex_match(CommandLine(r.messages, "EGP_", Narrow(kPlatform)), std::regex(stamp + " REMOVECOMMON=1")));
    for (const wchar_t* code : {kAntivirus, kAgsConnector, kPlatform})
        EXPECT_FALSE(sweeper::IsProductInstalled(code)) << Narrow(code);
}

TEST_F(SweeperRun, FailedEntryRemovesFoldersAndKeysInBothViews)
{
    PendingRenames pending;
    FailingEntries failing;
    const std::string config = failing.Plan();

    // On a 32-bit Windows both views are one tree: the scratch keys come before any value.
    ScratchKey ostrand(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrand Labs", RegView::Bit64);
    ScratchKey ostrand32(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrand Labs", RegView::Bit32);
    ScratchKey zelmar32(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", RegView::Bit32);

    // The suite's folders: one file held open.
    const std::wstring dir32 = folders_ / L"x86\\Zelmar\\Endpoint", dir64 = folders_ / L"x64\\Zelmar\\Endpoint";
    for (const std::wstring& dir : {dir32, dir64}) {
        SHCreateDirectoryExW(nullptr, (dir + L"\\Endpoint Guard Platform").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(dir + L"\\Endpoint Guard Platform\\zlbizframework.dll", "x"));
        ASSERT_TRUE(WriteFileBytes(dir + L"\\agent.exe", "x"));
    }
    const std::wstring locked = dir64 + L"\\agent.exe";
    win::Handle held(CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    SetInstallFolders(dir32 + L"\\", dir64 + L"\\");

    // The suite's keys in both views, next to another vendor's.
    const std::wstring plugins = L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\";
    const std::vector<std::wstring> suiteKeys = {plugins + L"ZelmarEndpointAntivirus", plugins + L"ZelmarAgsConnector",
                                                 L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Installer\\Deep"};
    const std::vector<std::wstring> otherKeys = {plugins + L"OtherVendor", L"SOFTWARE\\Zelmar\\OtherProduct"};
    for (RegView view : {RegView::Bit32, RegView::Bit64})
        for (const auto& keys : {suiteKeys, otherKeys})
            for (const std::wstring& path : keys) {
                win::Key key;
                ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, view, key), ERROR_SUCCESS);
            }

    RunResult r = Run(config);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(ContainsInOrder(
        r.messages,
        {"Removing Endpoint Antivirus", "Module  Endpoint Antivirus uninstallation failed", "Removing AGS Connector",
         "AGS_ not installed", "Removed Modules", "Removing Dependencies", "Removing Endpoint Guard Platform",
         "Removed Dependencies", "Cleaning up left overs", "Removing Directories", "Begin RemoveProductDirectory",
         "End RemoveProductDirectory", "Removing Registries",
         "Sweeper has attempted to clean up Zelmar Endpoint guard. Please restart your system."}))
        << Text(r.messages);
    EXPECT_EQ(Count(r.messages, "Module  Endpoint Guard Platform uninstallation failed"), 0u)
        << "a failing dependency has no module line";
    EXPECT_EQ(Count(r.messages, "Clean uninstallation completed successfully"), 0u);
    EXPECT_EQ(Guardswitch(), "") << "nothing was uninstalled, so the switch was never called";

    // Folders: the 32-bit folder only on a 64-bit Windows; the held file waits for the restart.
    EXPECT_EQ(FileExists(dir32), !IsWindows64());
    EXPECT_EQ(FileExists(folders_ / L"x86"), !IsWindows64())
        << (IsWindows64() ? "empty parents go too" : "a 32-bit Windows has no 32-bit install folder to remove");
    EXPECT_TRUE(FileExists(locked));
    EXPECT_FALSE(FileExists(dir64 + L"\\Endpoint Guard Platform")) << Text(r.messages);
    EXPECT_TRUE(pending.HasDeletion(locked))
        << "expected \\??\\" << Narrow(locked) << " in PendingFileRenameOperations";
    EXPECT_TRUE(ContainsInOrder(
        r.messages,
        {"Removing file : " + Narrow(locked), "File could not be deleted", "Last error while deleting file : 32",
         "Marking the file for deletion on reboot", "File Marked for deletion succesfully",
         "End RemoveProductDirectory", "Removing Directories failed", "Removing Registries"}));
    EXPECT_TRUE(FileExists(folders_ / L"keep.txt"));

    for (RegView view : {RegView::Bit32, RegView::Bit64}) {
        for (const std::wstring& path : suiteKeys) EXPECT_FALSE(KeyExists(path, view)) << Narrow(path);
        EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar\\Endpoint", view));
        for (const std::wstring& path : otherKeys)
            EXPECT_TRUE(KeyExists(path, view)) << Narrow(path) << " must survive";
    }
    held.reset();
    DeleteFileW(locked.c_str());
}

// A registry link below the suite's key goes itself: its target, another
// product's tree, stays, and the run ends.
TEST_F(SweeperRun, RegistryLinkBelowTheSuiteKeyIsRemovedItselfAndTheRunEnds)
{
    FailingEntries failing;
    ScratchKey victim(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZelmarSweeperVictim", RegView::Bit64);
    win::Key deep;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZelmarSweeperVictim\\Deep", KEY_ALL_ACCESS,
                             RegView::Bit64, deep),
              ERROR_SUCCESS);
    ASSERT_EQ(win::WriteString(deep.get(), L"v", L"another product's"), ERROR_SUCCESS);
    deep.reset();
    SetInstallFolders(L"", L"");
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Evil", 0, nullptr,
                              REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                              &raw, nullptr),
              ERROR_SUCCESS);
    win::Key link(raw);
    const std::wstring target = L"\\Registry\\Machine\\Software\\ZelmarSweeperVictim";
    ASSERT_EQ(RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(target.c_str()),
                             static_cast<DWORD>(target.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    link.reset();
    ASSERT_TRUE(KeyExists(L"SOFTWARE\\Zelmar\\Endpoint\\Evil\\Deep", RegView::Bit64)) << "the link leads nowhere";

    // A walk that followed the link looped for ever: the run is bounded here.
    RunResult r = Run(FailingEntries::Plan(), 60000);
    EXPECT_EQ(r.exitCode, 0u) << "Sweeper did not end (0xFFFFFFFE: stopped after 60 s)";
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\ZelmarSweeperVictim\\Deep", RegView::Bit64))
        << "the key removal deleted the link's target";
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar\\Endpoint", RegView::Bit64));
    EXPECT_TRUE(ContainsInOrder(r.messages, {"Removing Registries", "SOFTWARE\\Zelmar\\Endpoint\\Evil",
                                             "Deleting regkey worked succesfully",
                                             IsWindows64() ? ">> Remove Endpoint Wow Registry Success in 64 bit!"
                                                           : ">> Remove Endpoint Registry Success in 32 bit!"}));
    EXPECT_LT(r.messages.size(), 400u) << "the walk visited more than the tree holds";
}

}  // namespace
