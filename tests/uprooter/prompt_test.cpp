// The confirmation prompt, answered for real on a virtual display.
#include "UprooterRun.h"

#include <future>

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

TEST_F(UprooterRun, AnsweringNoEndsTheRunWithExitCode0)
{
    AddSweeperStandIn();
    ScopedEnv log(L"ZL_STUB_LOG", root / L"sweeper-starts.txt");
    auto answer = std::async(std::launch::async, AnswerPrompt, IDNO);
    EXPECT_EQ(Run(L""), 0u);
    EXPECT_EQ(answer.get(), "Are you sure you want to uninstall Zelmar Endpoint Guard?");
    auto lines = RunLogLines();
    ASSERT_EQ(lines.size(), 2u) << Dump(lines);
    EXPECT_EQ(lines[0], "User has aborted the Uninstall Operation");
    EXPECT_FALSE(FileExists(root / L"sweeper-starts.txt"));
}

TEST_F(UprooterRun, AnsweringYesGoesOn)
{
    AddSweeperStandIn();
    auto answer = std::async(std::launch::async, AnswerPrompt, IDYES);
    EXPECT_EQ(Run(L"/all"), 1u);
    EXPECT_NE(answer.get(), "(no prompt appeared)");
    auto lines = RunLogLines();
    ASSERT_GE(lines.size(), 2u) << Dump(lines);
    EXPECT_EQ(lines[0], "Starting Uprooter...");
    EXPECT_EQ(lines[1], "Found the /all argument");
}

}  // namespace
