// Guardswitch run for real under its callers: Sweeper, the Windows Installer
// running a custom action, and anybody else.
#include "GuardswitchRun.h"

#include <msiquery.h>

using namespace testing_support;

namespace {

// --- Sweeper as the parent ---------------------------------------------------

struct Spelling {
    const wchar_t* parent;
    const wchar_t* arguments;
    bool value;
};

class SweeperParent : public GuardswitchRun, public ::testing::WithParamInterface<Spelling> {};

TEST_P(SweeperParent, IsValidatedAndSwitchesSelfProtection)
{
    const Spelling& s = GetParam();
    EXPECT_EQ(RunFrom(s.parent, s.arguments), 0u);
    EXPECT_EQ(FrameworkCalls(), PropertySet(s.value)) << Dump(FrameworkCalls());
    std::vector<std::string> validated = {"GetTrustInterface TrustValidationControl",
                                          "ValidateProcess " + std::to_string(parentId) + " 1", "Release"};
    EXPECT_EQ(TrustCalls(), validated) << "the parent itself must be validated";
    EXPECT_EQ(RefusalLines(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Spellings, SweeperParent,
                         ::testing::Values(Spelling{L"Sweeper.exe", L"/disablesp", false},
                                           Spelling{L"Sweeper.exe", L"/enablesp", true},
                                           Spelling{L"SWEEPER.EXE", L"-ENABLESP", true},
                                           Spelling{L"sweeper.exe", L"/DisableSP", false},
                                           Spelling{L"Sweeper.exe", L"/disablesp -EnableSP", true},
                                           Spelling{L"Sweeper.exe", L"enablesp /disablesp", false}));

TEST_F(GuardswitchRun, SweeperTrustNeedsBothBitsOnEveryModuleNotTheExactFlags)
{
    ScopedEnv verdict(L"ZL_TRUST_PROCESS", L"0 3:3 2:1 6:5 2:1");
    EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), 0u);
    EXPECT_EQ(FrameworkCalls(), PropertySet(false));
}

TEST_F(GuardswitchRun, SweeperRejectedByTheTrustLibraryIsRefused)
{
    struct Case {
        const wchar_t* verdict;
        const char* what;
    } cases[] = {
        {L"87", "validation failed"},
        {L"0 2:1 2:1", "two modules only"},
        {L"0 2:1 0:1 2:1", "a module not verified"},
        {L"0 2:1 2:1 2:0", "a module from another publisher"},
        {L"0", "no modules"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv verdict(L"ZL_TRUST_PROCESS", c.verdict);
        ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));
        auto calls = TrustCalls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "ValidateProcess " + std::to_string(parentId) + " 1"),
                  calls.end())
            << Dump(calls);
        DeleteFileW(trustLog.c_str());
    }
}

TEST_F(GuardswitchRun, WithoutASwitchNothingIsAskedOfAnybody)
{
    for (auto arguments : {L"", L"enablesp", L"/enable", L"/enablesp:1", L"\\disablesp"}) {
        SCOPED_TRACE(Narrow(arguments));
        EXPECT_EQ(RunFrom(L"Sweeper.exe", arguments), kRefused);
        EXPECT_FALSE(FileExists(trustLog)) << "the caller is not even checked";
    }
    EXPECT_EQ(FrameworkCalls(), std::vector<std::string>{});
    EXPECT_EQ(RefusalLines(), 0u) << "no verification, no line";
}

TEST_F(GuardswitchRun, OtherParentsAreRefused)
{
    // A trusted process that is not named Sweeper, and Sweeper's name with
    // something added.
    for (auto parent : {L"Uprooter.exe", L"Sweeper.exe.exe", L"NotSweeper.exe"}) {
        SCOPED_TRACE(Narrow(parent));
        ExpectRefused(RunFrom(parent, L"/disablesp"));
    }
}

TEST_F(GuardswitchRun, StartedFromACommandPromptIsRefused)
{
    // A support engineer in the platform folder, where the libraries are found.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring line = std::wstring(system) + L"\\cmd.exe /c ..\\app\\" + program + L" /disablesp";
    ExpectRefused(Start(line, platform));
}

TEST_F(GuardswitchRun, AMissingTrustLibraryOrOneWithoutItsExportRefusesSweeper)
{
    DeleteFileW((trust.folder() + L"\\zlmtrust.dll").c_str());
    ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));

    trust.Lay(L"zlmtrust_noexport");
    ExpectRefused(RunFrom(L"Sweeper.exe", L"/enablesp"));
    EXPECT_EQ(RefusalLines(), 2u) << "the same line for both switches";
}

// The caller starts Guardswitch in a folder of its choosing (here the scratch
// root): a library there is never used, one beside the program or on PATH is.
TEST_F(GuardswitchRun, WithoutARegisteredFolderTheBareNameIsNotLookedForInTheCurrentFolder)
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", KEY_WOW64_32KEY, 0);
    ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));
    TrustInstall::Lay(root.path());
    ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));
    EXPECT_FALSE(FileExists(trustLog)) << "the library in the current folder must not be loaded";

    for (const std::wstring& folder : {app, platform}) {
        SCOPED_TRACE(Narrow(folder));
        TrustInstall::Lay(folder);
        EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), 0u);
        EXPECT_EQ(FrameworkCalls(), PropertySet(false));
        DeleteFileW((folder + L"\\zlmtrust.dll").c_str());
        DeleteFileW(frameworkLog.c_str());
    }
}

// A registered value that cannot name the library is not "no value": the
// bare name is not tried, even where it would find an approving library.
TEST_F(GuardswitchRun, ARegisteredFolderThatCannotNameTheLibraryRefusesEveryCaller)
{
    TrustInstall::Lay(app);
    ASSERT_LT(trust.folder().size(), 118u);
    struct Case {
        const char* what;
        std::wstring folder;
    } cases[] = {
        {"118 characters, more than its buffer holds", Lengthened(trust.folder(), 118)},
        {"relative to the caller's current folder", L"trust"},
        // The caller picks the drive: the same folders on a drive of its own.
        {"relative to the caller's current drive", trust.folder().substr(2)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        trust.Register(c.folder);
        ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));
        EXPECT_FALSE(FileExists(trustLog)) << Dump(TrustCalls());
    }
}

// Windows 2000 has no registry views: the folder is read from the program's
// own view. Only the 64-bit build can tell the difference (Wine reports the
// old version to one program on request; 64-bit Windows 2000 never existed,
// but the flag the 32-bit build passes there is the same choice).
TEST_F(GuardswitchRun, OnWindows2000TheFolderIsReadFromTheProgramsOwnView)
{
    if (std::wstring(ZL_ARCH_W) != L"x64") GTEST_SKIP() << "a 32-bit program's own view is the 32-bit view";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", KEY_WOW64_32KEY, 0);
    {
        ScratchKey native(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", win::RegView::Bit64);
        ASSERT_EQ(win::WriteString(native.get(), L"szInstallDir64", trust.folder()), ERROR_SUCCESS);
        ExpectRefused(RunFrom(L"Sweeper.exe", L"/disablesp"));  // the 32-bit view holds nothing

        ScratchKey version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + program);
        ASSERT_EQ(win::WriteString(version.get(), L"Version", L"win2k"), ERROR_SUCCESS);
        EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), 0u);
        EXPECT_EQ(FrameworkCalls(), PropertySet(false));
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar", KEY_WOW64_64KEY, 0);
}

// --- The framework's answers ---------------------------------------------------

TEST_F(GuardswitchRun, FrameworkFailuresBecomeTheExitCode)
{
    {
        ScopedEnv init(L"ZL_BIZ_INIT", L"0");
        EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), 1u);
        EXPECT_EQ(FrameworkCalls(), (std::vector<std::string>{"BizFrameworkInit", "BizFrameworkCleanUp"}));
        DeleteFileW(frameworkLog.c_str());
    }
    {
        ScopedEnv open(L"ZL_BIZ_OPEN", L"0x80070005");
        EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), 0x80070005u);
        EXPECT_EQ(FrameworkCalls(), (std::vector<std::string>{"BizFrameworkInit", "BizGetObjectHandle SP 0 0",
                                                              "BizFrameworkCleanUp"}));
        DeleteFileW(frameworkLog.c_str());
    }
    {
        ScopedEnv set(L"ZL_BIZ_SET", L"1603");
        EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/enablesp"), 1603u);
        EXPECT_EQ(FrameworkCalls(), PropertySet(true)) << "released, freed and cleaned up all the same";
    }
}

// --- How the libraries are found ------------------------------------------------

// Wine finding: the DLL folder Sweeper sets reaches its children on Windows,
// not under Wine. Without the platform folder on PATH the program cannot start.
TEST_F(GuardswitchRun, UnderWineTheParentsDllFolderDoesNotReachTheProgram)
{
    platformOnPath.Drop();
    EXPECT_EQ(RunFrom(L"Sweeper.exe", L"/disablesp"), static_cast<DWORD>(STATUS_DLL_NOT_FOUND));
    EXPECT_EQ(FrameworkCalls(), std::vector<std::string>{});
}

// The load-time libraries are bound before Guardswitch runs any code, so the
// caller's current folder still supplies them (on Windows too, after the
// system folders, unless the caller set a DLL folder).
TEST_F(GuardswitchRun, TheLoadTimeLibrariesAreFoundInTheCallersCurrentFolder)
{
    platformOnPath.Drop();
    AddParent(L"Sweeper.exe");
    std::wstring line = L"\"" + app + L"\\Sweeper.exe\" " + program + L" /disablesp";
    EXPECT_EQ(Start(line, platform), 0u);
    EXPECT_EQ(FrameworkCalls(), PropertySet(false));
}

// --- The Windows Installer as the parent ----------------------------------------

class InstallerParent : public GuardswitchRun {
protected:
    // Lays the custom-action library of an architecture as the installer's
    // temporary copy, named name.
    std::wstring Module(const std::wstring& name, const std::wstring& arch = ZL_ARCH_W)
    {
        std::wstring path = root / name;
        Copy(BuildPathOf(arch, L"testbed\\parent\\customaction.dll"), path);
        return path;
    }

    DWORD RunLoading(const std::wstring& parent, const std::wstring& module, const std::wstring& arguments)
    {
        return RunFrom(parent, arguments, L"/load \"" + module + L"\"");
    }
};

TEST_F(InstallerParent, AValidatedCustomActionCopyIsAccepted)
{
    ScopedEnv verdict(L"ZL_TRUST_FILE", L"0 7:3");  // both bits among others
    for (auto name : {L"MSI4F2A.TMP", L"msi9c.tmp"}) {
        SCOPED_TRACE(Narrow(name));
        std::wstring module = Module(name);
        EXPECT_EQ(RunLoading(L"msiexec.exe", module, L"/disablesp"), 0u);
        EXPECT_EQ(FrameworkCalls(), PropertySet(false));
        auto calls = TrustCalls();
        ASSERT_GE(calls.size(), 2u) << Dump(calls);
        EXPECT_EQ(calls[1], "ValidateFile " + Narrow(module) + " 1") << "the module's path as loaded";
        DeleteFileW(frameworkLog.c_str());
        DeleteFileW(trustLog.c_str());
    }
}

// The real Windows Installer: a package whose custom action starts
// Guardswitch. The installer runs the action from its temporary copy of the
// library (msiXXXX.tmp) in an msiexec.exe process of the library's bitness.
class RealInstaller : public InstallerParent {
protected:
    std::wstring result = root / L"result.txt";

    // Installs the package with Guardswitch as its action's command line;
    // returns what the action recorded as Guardswitch's exit code.
    std::string Install(const std::wstring& arguments)
    {
        std::wstring package = root / L"customaction.msi";
        Copy(BuildPath(L"testbed\\parent\\customaction.msi"), package);
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring line = std::wstring(system) + L"\\msiexec.exe /i \"" + package + L"\" /qn GUARDSWITCH=\"" + app +
                            L"\\" + program + L" " + arguments + L"\" GUARDSWITCH_RESULT=\"" + result + L"\"";
        EXPECT_EQ(Start(line, root.path()), static_cast<DWORD>(ERROR_INSTALL_USEREXIT)) << "the action ends the install";
        EXPECT_EQ(MsiQueryProductStateW(ProductCode(package).c_str()), INSTALLSTATE_UNKNOWN) << "nothing installed";
        return ReadFileBytes(result);
    }

    static std::wstring ProductCode(const std::wstring& package)
    {
        win::MsiHandle database, view, record;
        wchar_t code[39] = {};
        DWORD size = 39;
        if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.put()) == ERROR_SUCCESS &&
            MsiDatabaseOpenViewW(database.get(), L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'",
                                 view.put()) == ERROR_SUCCESS &&
            MsiViewExecute(view.get(), 0) == ERROR_SUCCESS && MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS)
            MsiRecordGetStringW(record.get(), 1, code, &size);
        return code;
    }
};

// The real Windows Installer runs the action from its temporary copy of the
// library (msiXXXX.tmp) in an msiexec.exe process of the library's bitness.
TEST_F(RealInstaller, RunningAValidatedCustomActionIsAccepted)
{
    EXPECT_EQ(Install(L"/disablesp"), "0") << "Guardswitch's exit code";
    EXPECT_EQ(FrameworkCalls(), PropertySet(false));
    auto calls = TrustCalls();
    ASSERT_GE(calls.size(), 2u) << Dump(calls);
    std::string validated = calls[1];
    std::string name = validated.substr(validated.find_last_of('\\') + 1);
    EXPECT_EQ(validated.rfind("ValidateFile ", 0), 0u) << validated;
    EXPECT_EQ(_strnicmp(name.c_str(), "msi", 3), 0) << validated;
    EXPECT_NE(name.find(".tmp 1"), std::string::npos) << validated;
}

TEST_F(RealInstaller, RunningACustomActionTheTrustLibraryDoubtsIsRefused)
{
    ScopedEnv verdict(L"ZL_TRUST_FILE", L"0 2:0");
    EXPECT_EQ(Install(L"/enablesp"), std::to_string(kRefused));
    EXPECT_EQ(FrameworkCalls(), std::vector<std::string>{});
}

TEST_F(InstallerParent, WithoutAValidatedCustomActionCopyItIsRefused)
{
    // No custom action at all.
    ExpectRefused(RunFrom(L"MsiExec.exe", L"/disablesp"));
    EXPECT_FALSE(FileExists(trustLog)) << "nothing to validate, and Sweeper's route fails on the name";

    // Modules that are not custom-action copies are never asked about.
    for (auto name : {L"MSI4F2A.DLL", L"CA4F2A.TMP", L"XMSI4F2A.TMP"}) {
        SCOPED_TRACE(Narrow(name));
        ExpectRefused(RunLoading(L"msiexec.exe", Module(name), L"/disablesp"));
        EXPECT_FALSE(FileExists(trustLog));
    }

    // A copy the trust library doubts or cannot check.
    for (auto verdict : {L"0 2:0", L"0 0:1", L"1234"}) {
        SCOPED_TRACE(Narrow(verdict));
        ScopedEnv file(L"ZL_TRUST_FILE", verdict);
        ExpectRefused(RunLoading(L"msiexec.exe", Module(L"MSI77.TMP"), L"/disablesp"));
        auto calls = TrustCalls();
        ASSERT_GE(calls.size(), 2u) << Dump(calls);
        EXPECT_EQ(calls[1].rfind("ValidateFile ", 0), 0u) << calls[1];
        DeleteFileW(trustLog.c_str());
    }
}

// A module path longer than its buffer of 260 units, whose first 259
// characters end in "\MSI1.TMP": cut, it would look like a custom-action copy
// and name another file.
TEST_F(InstallerParent, AModulePathThatDoesNotFitItsBufferIsNeverValidated)
{
    const std::wstring copy = L"\\MSI1.TMP";
    const size_t folderLength = MAX_PATH - 1 - copy.size();
    std::wstring folder = root / L"deep";
    while (folder.size() < folderLength) {
        CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
        size_t left = folderLength - folder.size();
        folder += L"\\" + std::wstring(left <= 61 ? left - 1 : 40, L'd');
    }
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << GetLastError();
    std::wstring module = L"\\\\?\\" + folder + copy + L".dll";
    Copy(BuildPath(L"testbed\\parent\\customaction.dll"), module);

    ExpectRefused(RunLoading(L"msiexec.exe", module, L"/disablesp"));
    EXPECT_FALSE(FileExists(trustLog)) << Dump(TrustCalls());
}

TEST_F(InstallerParent, AValidatedCopyInAProcessNotNamedMsiexecIsRefused)
{
    ExpectRefused(RunLoading(L"setup.exe", Module(L"MSI4F2A.TMP"), L"/disablesp"));
    EXPECT_FALSE(FileExists(trustLog));
}

}  // namespace

namespace {

// An installer of one bitness running the other bitness' Guardswitch.
class CrossBitnessInstaller : public InstallerParent {
protected:
    void SetUp() override
    {
        InstallerParent::SetUp();
        BOOL wow64 = FALSE;
        IsWow64Process(GetCurrentProcess(), &wow64);
        if (std::wstring(ZL_ARCH_W) != L"x86" || !wow64) GTEST_SKIP() << "needs 64-bit Windows and the 32-bit tree";
    }
};

// Wine finding: a 64-bit program lists a 32-bit process's own modules, so the
// custom-action copy is found and validated. Windows lists only the 64-bit
// modules of a 32-bit process here (ntdll and the WOW64 layer), and refuses.
TEST_F(CrossBitnessInstaller, UnderWineA64BitProgramSeesA32BitInstallersCustomAction)
{
    Stage(L"x64");
    AddParent(L"msiexec.exe", L"x86");
    std::wstring module = Module(L"MSI4F2A.TMP", L"x86");
    EXPECT_EQ(RunLoading(L"msiexec.exe", module, L"/disablesp"), 0u);
    EXPECT_EQ(FrameworkCalls(), PropertySet(false));
    auto calls = TrustCalls();
    ASSERT_GE(calls.size(), 2u) << Dump(calls);
    EXPECT_EQ(calls[1], "ValidateFile " + Narrow(module) + " 1");
}

// A 32-bit program cannot list a 64-bit process's modules (Wine: 998,
// Windows: 299), so the installer route fails before any validation.
TEST_F(CrossBitnessInstaller, A32BitProgramUnderA64BitInstallerIsRefused)
{
    Stage(L"x86");
    AddParent(L"msiexec.exe", L"x64");
    ExpectRefused(RunLoading(L"msiexec.exe", Module(L"MSI4F2A.TMP", L"x64"), L"/disablesp"));
    EXPECT_FALSE(FileExists(trustLog)) << Dump(TrustCalls());
}

}  // namespace
