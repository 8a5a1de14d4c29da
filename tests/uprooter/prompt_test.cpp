// The confirmation prompt, answered for real on a virtual display.
#include "UprooterRun.h"

using namespace testing_support;

namespace {

constexpr wchar_t kCaption[] = L"Zelmar Endpoint Guard Uninstall";

// Waits for the prompt, checks its text, and presses the button. Returns the
// text found, or a note when no box appeared.
std::string AnswerPrompt(int button)
{
    for (int i = 0; i < 300; ++i) {
        HWND box = FindWindowW(L"#32770", kCaption);
        if (box != nullptr) {
            wchar_t text[256] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 256);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            return Narrow(text);
        }
        Sleep(100);
    }
    return "(no prompt appeared)";
}

// Answers the prompt on a thread of its own while the test waits for Uprooter.
class PromptAnswer {
public:
    explicit PromptAnswer(int button) : button_(button), thread_(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}
    ~PromptAnswer() { WaitForSingleObject(thread_.get(), INFINITE); }
    PromptAnswer(const PromptAnswer&) = delete;
    PromptAnswer& operator=(const PromptAnswer&) = delete;

    // The text of the prompt that was answered.
    std::string Text()
    {
        WaitForSingleObject(thread_.get(), INFINITE);
        return text_;
    }

private:
    static DWORD WINAPI Main(void* self)
    {
        auto* answer = static_cast<PromptAnswer*>(self);
        answer->text_ = AnswerPrompt(answer->button_);
        return 0;
    }

    const int button_;
    std::string text_;
    win::Handle thread_;
};

TEST_F(UprooterRun, AnsweringNoEndsTheRunWithExitCode0)
{
    AddSweeperStandIn();
    ScopedEnv log(L"ZL_STUB_LOG", root / L"sweeper-starts.txt");
    PromptAnswer answer(IDNO);
    EXPECT_EQ(Run(L""), 0u);
    EXPECT_EQ(answer.Text(), "Are you sure you want to uninstall Zelmar Endpoint Guard?");
    auto lines = RunLogLines();
    ASSERT_EQ(lines.size(), 2u) << Dump(lines);
    EXPECT_EQ(lines[0], "User has aborted the Uninstall Operation");
    EXPECT_FALSE(FileExists(root / L"sweeper-starts.txt"));
}

TEST_F(UprooterRun, AnsweringYesGoesOn)
{
    AddSweeperStandIn();
    PromptAnswer answer(IDYES);
    EXPECT_EQ(Run(L"/all"), 1u);
    EXPECT_NE(answer.Text(), "(no prompt appeared)");
    auto lines = RunLogLines();
    ASSERT_GE(lines.size(), 2u) << Dump(lines);
    EXPECT_EQ(lines[0], "Starting Uprooter...");
    EXPECT_EQ(lines[1], "Found the /all argument");
}

}  // namespace
