// The trust library as the parent checks use it: loaded once per process from
// the registered install folder, its loading status answered by every
// validation, and the checks that refuse before the library is asked.
#include "ParentCheck.h"
#include "SuiteStage.h"

using namespace testing_support;

namespace {

// The stand-ins are loaded where they were built: a library stays loaded for
// the interface it gave out, so a copy could not be removed after the test.
class TrustLibrary : public ::testing::Test {
protected:
    ScratchDir root{L"guardswitch-trust"};
    TrustKey key;
    std::wstring log = root / L"trust.txt";
    ScopedEnv logVariable{L"ZL_TRUST_LOG", log};
    std::wstring built = BuildPath(L"testbed\\suite");

    void Register(const std::wstring& folder) { key.Register(folder); }

    std::vector<std::string> Calls() { return SplitLines(ReadFileBytes(log)); }
};

TEST_F(TrustLibrary, LoadsOnceFromTheRegisteredFolderAndAsksForTheValidationInterface)
{
    Register(built);
    std::wstring module = root / L"MSI1A2B.TMP";
    {
        TrustValidation trust;
        EXPECT_EQ(trust.ValidateFile(module.c_str()), 0u);
        EXPECT_EQ(trust.ValidateProcess(GetCurrentProcessId()), 0u);
    }
    std::vector<std::string> expected = {
        "GetTrustInterface TrustValidationControl",
        "ValidateFile " + Narrow(module) + " 1",
        "ValidateProcess " + std::to_string(GetCurrentProcessId()) + " 1",
        "Release",
    };
    EXPECT_EQ(Calls(), expected);
}

TEST_F(TrustLibrary, EveryValidationAnswersTheLoadingStatus)
{
    struct Case {
        const char* what;
        std::wstring folder;
        DWORD interfaceStatus;
        DWORD expected;
    } cases[] = {
        {"missing library", root.path(), 0, ERROR_MOD_NOT_FOUND},
        {"library without the export", built + L"\\noexport", 0, ERROR_PROC_NOT_FOUND},
        {"interface refused", built, 1260, 1260},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Register(c.folder);
        ScopedEnv status(L"ZL_TRUST_INTERFACE", std::to_wstring(c.interfaceStatus));
        TrustValidation trust;
        EXPECT_EQ(trust.ValidateFile(L"C:\\MSI1.TMP"), c.expected);
        EXPECT_EQ(trust.ValidateProcess(GetCurrentProcessId()), c.expected);
    }
    for (auto& line : Calls()) EXPECT_EQ(line.rfind("Validate", 0), std::string::npos) << line;
}

TEST_F(TrustLibrary, TheLibraryPathMustFitIn99CharactersAndIsNeverCut)
{
    // At 86 characters the folder leaves exactly room for "\zlmtrust.dll".
    // At 90 a cut path would end in "\zlmtrust", which the loader completes
    // with ".dll"; at 118 the value does not even fit its buffer.
    ASSERT_LT(built.size(), 80u);
    Register(Lengthened(built, 86));
    EXPECT_EQ(TrustValidation().ValidateProcess(GetCurrentProcessId()), 0u) << "86 characters";
    for (size_t length : {87u, 90u, 99u, 100u, 118u}) {
        Register(Lengthened(built, length));
        EXPECT_EQ(TrustValidation().ValidateProcess(GetCurrentProcessId()), static_cast<DWORD>(ERROR_MOD_NOT_FOUND))
            << length << " characters";
    }
}

// Sets the current folder for the life of a scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder)
    {
        GetCurrentDirectoryW(MAX_PATH, old_);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(old_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    wchar_t old_[MAX_PATH] = {};
};

// This test program never takes its current folder out of the DLL search,
// as Guardswitch does first of all, so the bare name would be looked for
// there.
TEST_F(TrustLibrary, NothingIsLoadedThroughTheCurrentFolder)
{
    std::wstring testbed = built.substr(0, built.rfind(L'\\'));
    struct Case {
        const char* what;
        std::wstring folder;  // empty: none registered (first, while the fresh key holds no value)
        std::wstring current;
    } cases[] = {
        {"no folder registered, the library in the current folder", L"", built},
        {"a folder relative to the current folder", L"suite", testbed},
        {"a folder relative to the current drive", built.substr(2), testbed},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.folder.empty()) Register(c.folder);
        CurrentFolder inside(c.current);
        EXPECT_EQ(TrustValidation().ValidateProcess(GetCurrentProcessId()), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "no library may have been asked";
}

// A real reuse of the parent's identifier cannot be staged, so the age check
// is driven with this program and a process started after it.
TEST(ParentAge, OnlyAProcessCreatedBeforeTheChildCountsAsItsParent)
{
    std::wstring line = L"\"" + ProgramDir() + L"\\guardswitch_unit_tests.exe\" --gtest_list_tests";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION raw{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                               &raw))
        << GetLastError();
    win::ProcessInformation younger;
    younger.take(raw);

    win::Handle parent;
    EXPECT_EQ(OpenParentProcess(younger.processId, GetCurrentProcess(), parent), 5u) << "started after this program";
    EXPECT_FALSE(parent);
    EXPECT_EQ(OpenParentProcess(GetCurrentProcessId(), GetCurrentProcess(), parent), 5u) << "not older than itself";
    EXPECT_FALSE(parent);
    EXPECT_EQ(OpenParentProcess(GetCurrentProcessId(), younger.process.get(), parent), 0u);
    EXPECT_EQ(GetProcessId(parent.get()), GetCurrentProcessId()) << "the parent is held open";
    TerminateProcess(younger.process.get(), 0);
}

// A process named Sweeper.exe with the identifier 0 or 4 cannot be made on a
// real system (0 is the idle process, 4 the System process), so the check is
// driven with the parent's identity as the snapshot would give it.
TEST_F(TrustLibrary, SweeperParentsWithIdentifier0Or4AreRefusedBeforeTheLibraryIsAsked)
{
    Register(built);
    TrustValidation trust;
    EXPECT_EQ(VerifySweeperParent({0, L"Sweeper.exe", {}}, trust), 5u);
    EXPECT_EQ(VerifySweeperParent({4, L"Sweeper.exe", {}}, trust), 5u);
    EXPECT_EQ(Calls(), std::vector<std::string>{}) << "the library must not be loaded for these";

    DWORD real = GetCurrentProcessId();
    EXPECT_EQ(VerifySweeperParent({real, L"SWEEPER.EXE", {}}, trust), 0u);
    EXPECT_EQ(VerifySweeperParent({real, L"Sweeper.ex", {}}, trust), 5u);
    EXPECT_EQ(VerifyInstallerParent({real, L"Sweeper.exe", {}}, trust), 5u);
    std::vector<std::string> expected = {"GetTrustInterface TrustValidationControl",
                                         "ValidateProcess " + std::to_string(real) + " 1"};
    EXPECT_EQ(Calls(), expected);
}

}  // namespace
