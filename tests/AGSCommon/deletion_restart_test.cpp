// Deferred deletions across a restart. The first phase leaves files and
// folders for the restart through both branches (the pending rename list, and
// WinInit.Ini from a child that Wine tells it runs on Windows 98);
// deletion_run.sh then starts a new server session, which carries both out as
// a restart does; the second phase checks what is left.
#include "Deletion.h"
#include "FileName.h"
#include "PendingDeletions.h"
#include "Profile.h"
#include "ProcessFlags.h"
#include "Removal.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

const std::wstring kArea = L"C:\\zltest-restart";
const std::wstring kChild = L"deletion_child.exe";

std::wstring InWindows(const wchar_t* name)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\" + name;
}

std::string ShortForm(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    GetShortPathNameW((kArea + L"\\" + name).c_str(), buffer, 1024);
    return Narrow(buffer);
}

// The access lists the removal layer wrote, by folder.
std::vector<std::pair<std::wstring, std::wstring>> g_lists;
void ListWritten(const std::wstring& folder, const std::wstring& sddl) { g_lists.emplace_back(folder, sddl); }

// Runs the child under Windows 98 on a path in the area; its exit code.
DWORD MarkAsWindows98(const wchar_t* name)
{
    ScratchKey version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + kChild);
    win::WriteString(version.get(), L"Version", L"win98");
    return RunAndWait(L"\"" + ProgramDir() + L"\\" + kChild + L"\" \"" + kArea + L"\\" + name + L"\"");
}

TEST(BeforeRestart, LeaveFilesAndFoldersForTheRestart)
{
    win::RemoveTree(kArea);
    for (const wchar_t* folder : {L"", L"\\tree", L"\\tree\\sub", L"\\olddir"})
        ASSERT_TRUE(CreateDirectoryW((kArea + folder).c_str(), nullptr));
    for (const wchar_t* file : {L"held.txt", L"tree\\sub\\held.txt", L"marked.txt", L"old98.txt", L"seed.txt"})
        ASSERT_TRUE(WriteFileBytes(kArea + L"\\" + file, "x"));
    win::Handle held = Hold(kArea + L"\\held.txt"), heldInTree = Hold(kArea + L"\\tree\\sub\\held.txt");

    // The NT branch: the pending rename list.
    g_lists.clear();
    win::removal::SetAccessListObserver(ListWritten);
    PendingList pending;
    pending.KeepChanges();
    g_RebootNeeded = 0;
    EXPECT_FALSE(RemoveFile((kArea + L"\\held.txt").c_str()));
    EXPECT_EQ(g_RebootNeeded, 1);
    Nukedir((kArea + L"\\tree").c_str());
    FileName((kArea + L"\\marked.txt").c_str()).MarkDeleteAfterReboot();
    EXPECT_EQ(g_RebootNeeded, 1);
    EXPECT_FALSE(FileExists(kArea + L"\\marked.txt")) << "its name is free at once";
    EXPECT_EQ(PendingList::Deletions().back().rfind(kArea + L"\\TVO", 0), 0u) << "under a throw-away name";
    for (const wchar_t* item : {L"held.txt", L"tree\\sub\\held.txt", L"tree\\sub", L"tree"})
        EXPECT_NE(PendingList::Position(kArea + L"\\" + item), std::wstring::npos) << Narrow(item);
    // Until the restart no ordinary user may swap a folder on those paths for
    // a link: each folder's list became Administrators and SYSTEM alone,
    // protected from inheritance. Wine keeps no such list, so the list as
    // written is checked.
    win::removal::SetAccessListObserver(nullptr);
    for (const wchar_t* folder : {L"", L"\\tree", L"\\tree\\sub"}) {
        const auto written = std::find_if(g_lists.begin(), g_lists.end(),
                                          [&](const auto& list) { return list.first == kArea + folder; });
        ASSERT_NE(written, g_lists.end()) << Narrow(folder);
        EXPECT_EQ(written->second, L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)") << Narrow(folder);
    }

    // The branch without the NT kernel: entries appended to WinInit.Ini.
    const std::wstring ini = InWindows(L"wininit.ini");
    ASSERT_FALSE(FileExists(ini)) << "a WinInit.Ini of someone else's";
    const std::string seed = "[rename]\r\nNUL=" + Narrow(kArea) + "\\seed.txt\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, seed));
    EXPECT_EQ(MarkAsWindows98(L"old98.txt"), 11u) << "platform 1 (no NT kernel), restart needed";
    EXPECT_EQ(MarkAsWindows98(L"olddir"), 11u);
    CProfile profile;
    ASSERT_TRUE(profile.Load(ini));
    EXPECT_EQ(profile.Text(), seed + "NUL=" + ShortForm(L"old98.txt") + "\r\n\r\n[DIRNUL]\r\n" +
                                  ShortForm(L"olddir") + "=1\r\n\r\n");
}

TEST(AfterRestart, TheRestartCarriedEverythingOut)
{
    // Wine's start-up knows the "rename" section only; the folder of DIRNUL stays.
    std::vector<std::wstring> left;
    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileW((kArea + L"\\*").c_str(), &data));
    ASSERT_TRUE(find);
    do {
        if (data.cFileName[0] != L'.') left.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    EXPECT_EQ(left, std::vector<std::wstring>{L"olddir"});
    for (const std::wstring& item : PendingList::Deletions())
        EXPECT_EQ(item.find(kArea), std::wstring::npos) << Narrow(item);
    EXPECT_FALSE(FileExists(InWindows(L"wininit.ini")));
    EXPECT_TRUE(FileExists(InWindows(L"wininit.bak"))) << "Wine keeps the carried-out file";
    DeleteFileW(InWindows(L"wininit.bak").c_str());
    win::RemoveTree(kArea);
}

}  // namespace
