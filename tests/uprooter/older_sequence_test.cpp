// The older suite's sequence around its removal steps: the administrator
// refusal, help, the suite's main keys, and the restart decision with the
// restart request read back through its seam. The restart question is
// answered for real where a display exists.
#include "Entry.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr wchar_t kMainKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kCaption[] = L"Zelmar Cloudward Cleanup Utility";

std::vector<UINT> g_restarts;
BOOL WINAPI RecordRestart(UINT flags, DWORD) { g_restarts.push_back(flags); return TRUE; }
bool NotAnAdministrator() { return false; }

bool KeyExists(const wchar_t* path)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

struct Answer {
    int button;
    std::wstring text;
    bool mainKeyGoneWhileAsked = false;
};

DWORD WINAPI AnswerQuestion(void* context)
{
    auto* answer = static_cast<Answer*>(context);
    for (int i = 0; i < 300; ++i) {
        HWND box = FindWindowW(L"#32770", kCaption);
        if (box != nullptr) {
            wchar_t text[512] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            answer->text = text;
            answer->mainKeyGoneWhileAsked = !KeyExists(kMainKey);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer->button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, answer->button)));
            return 0;
        }
        Sleep(100);
    }
    return 1;
}

// Without a display no window can be made, and a message box fails at once.
bool HaveDisplay()
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
}

// Answers the sequence's message box with a button while the test runs.
class Answering {
public:
    explicit Answering(int button) : answer_{button, L""}
    {
        if (HaveDisplay()) thread_.reset(CreateThread(nullptr, 0, AnswerQuestion, &answer_, 0, nullptr));
    }
    // Waits for the answer; true if a box was answered.
    bool Answered()
    {
        if (!thread_) return false;
        WaitForSingleObject(thread_.get(), 40000);
        DWORD code = 1;
        GetExitCodeThread(thread_.get(), &code);
        return code == 0;
    }
    const Answer& answer() const { return answer_; }

private:
    Answer answer_;
    win::Handle thread_;
};

class OlderSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(log_.c_str());
        g_restarts.clear();
        g_RebootNeeded = 0;
        savedRestart_ = g_RestartRequest;
        g_RestartRequest = RecordRestart;
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kMainKey) + L"\\Agent", KEY_ALL_ACCESS,
                                 win::RegView::Native, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\OtherProduct", KEY_ALL_ACCESS,
                                 win::RegView::Native, key),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        g_RestartRequest = savedRestart_;
        g_AdminRightsCheck = HasAdminRights;
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", win::RegView::Native);
        DeleteFileW(log_.c_str());
    }
    std::string Log() const { return ReadFileBytes(log_); }

    std::wstring log_ = ProgramDir() + L"\\uprooter_older_tests.log";
    RestartRequest savedRestart_ = nullptr;
};

TEST_F(OlderSequence, SuppressionWinsOverForceAndTheSuiteKeysGoWhileOthersStay)
{
    EXPECT_EQ(RemoveOlderProduct(GetModuleHandleW(nullptr), L"x.exe /supressReboot -f"), 0);
    EXPECT_TRUE(g_restarts.empty());
    EXPECT_EQ(g_RebootNeeded, 1) << "the removal always asks for a restart";
    std::string log = Log();
    EXPECT_NE(log.find("Uprooter.Exe, Version 6.0.2.001, \r\n In removeProduct()\r\n"), std::string::npos) << log;
    size_t check = log.find("No Deviations were detected in VBScript and/or JavaScript registrations\r\n");
    size_t suppressed = log.find("Supressing Reboot as per Command Line\r\n");
    EXPECT_NE(check, std::string::npos) << log;
    EXPECT_NE(suppressed, std::string::npos) << log;
    EXPECT_LT(check, suppressed);
    EXPECT_FALSE(KeyExists(kMainKey));
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Zelmar\\OtherProduct"));
}

TEST_F(OlderSequence, ForceRestartsWithoutAsking)
{
    EXPECT_EQ(RemoveOlderProduct(GetModuleHandleW(nullptr), L"x.exe -f"), 0);
    ASSERT_EQ(g_restarts.size(), 1u);
    EXPECT_EQ(g_restarts[0], static_cast<UINT>(EWX_REBOOT | EWX_FORCE));
}

TEST_F(OlderSequence, HelpRemovesNothing)
{
    EXPECT_EQ(RemoveOlderProduct(GetModuleHandleW(nullptr), L"x.exe -h"), 0);
    EXPECT_TRUE(KeyExists(kMainKey));
    EXPECT_TRUE(g_restarts.empty());
    EXPECT_NE(Log().find("Usage: \r\n\tUprooter.exe [-f][-a][-h][-?]"), std::string::npos);
}

TEST_F(OlderSequence, NoAdministratorExits1AndTouchesNothing)
{
    g_AdminRightsCheck = NotAnAdministrator;
    g_RebootNeeded = 1;
    Answering answering(IDOK);
    EXPECT_EQ(RemoveOlderProduct(GetModuleHandleW(nullptr), L"x.exe -f"), 1);
    if (answering.Answered()) {
        EXPECT_EQ(answering.answer().text, L"You must be an Administrator to use this application");
    }
    EXPECT_TRUE(KeyExists(kMainKey));
    EXPECT_TRUE(g_restarts.empty());
    EXPECT_FALSE(FileExists(log_)) << "no removal object, so no removal log";
    EXPECT_EQ(g_RebootNeeded, 1) << "the flags are cleared only past the check";
}

class RestartQuestion : public OlderSequence, public ::testing::WithParamInterface<int> {};

TEST_P(RestartQuestion, IsAskedWithTheMainKeyGoneAndOnlyOkRestarts)
{
    if (!HaveDisplay()) GTEST_SKIP() << "no display to answer the question on";
    Answering answering(GetParam());
    EXPECT_EQ(RemoveOlderProduct(GetModuleHandleW(nullptr), L"x.exe"), 0);
    ASSERT_TRUE(answering.Answered()) << "no question appeared";
    const Answer& answer = answering.answer();
    EXPECT_EQ(answer.text,
              L"You must reboot in order to complete the clean up of Zelmar Cloudward.  Press OK to continue or "
              L"Cancel to restart later.");
    EXPECT_TRUE(answer.mainKeyGoneWhileAsked);
    EXPECT_EQ(g_restarts.size(), GetParam() == IDOK ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Answers, RestartQuestion, ::testing::Values(IDOK, IDCANCEL));

}  // namespace
