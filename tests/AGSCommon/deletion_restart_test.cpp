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
#include "Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

const std::wstring kArea = L"C:\\zltest-restart";
const std::wstring kChild = L"deletion_child.exe";

std::wstring WinInit(const wchar_t* name)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\" + name;
}

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t buffer[1024] = {};
    GetShortPathNameW(path.c_str(), buffer, 1024);
    return buffer;
}

bool Listed(const std::vector<std::wstring>& items, const std::wstring& path)
{
    return std::any_of(items.begin(), items.end(),
                       [&](const std::wstring& item) { return _wcsicmp(item.c_str(), path.c_str()) == 0; });
}

// Runs the child under Windows 98 on path; its exit code.
DWORD MarkAsWindows98(const std::wstring& path)
{
    ScratchKey version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + kChild);
    win::WriteString(version.get(), L"Version", L"win98");
    return RunAndWait(L"\"" + ProgramDir() + L"\\" + kChild + L"\" \"" + path + L"\"");
}

TEST(BeforeRestart, LeaveFilesAndFoldersForTheRestart)
{
    win::RemoveTree(kArea);
    ASSERT_TRUE(CreateDirectoryW(kArea.c_str(), nullptr));
    for (const std::wstring& folder : {kArea + L"\\tree", kArea + L"\\tree\\sub", kArea + L"\\olddir"})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* file : {L"held.txt", L"tree\\sub\\held.txt", L"marked.txt", L"old98.txt", L"seed.txt"})
        ASSERT_TRUE(WriteFileBytes(kArea + L"\\" + file, "x"));
    std::vector<win::Handle> held;
    for (const wchar_t* file : {L"held.txt", L"tree\\sub\\held.txt"})
        held.emplace_back(CreateFileW((kArea + L"\\" + file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));

    // The NT branch: the pending rename list.
    g_RebootNeeded = 0;
    EXPECT_FALSE(RemoveFile((kArea + L"\\held.txt").c_str()));
    Nukedir((kArea + L"\\tree").c_str());
    FileName((kArea + L"\\marked.txt").c_str()).MarkDeleteAfterReboot();
    EXPECT_EQ(g_RebootNeeded, 1);
    const auto pending = PendingDeletions();
    for (const wchar_t* item : {L"held.txt", L"tree\\sub\\held.txt", L"tree\\sub", L"tree"})
        EXPECT_TRUE(Listed(pending, kArea + L"\\" + item)) << Narrow(item);

    // The branch without the NT kernel: entries appended to WinInit.Ini.
    const std::wstring ini = WinInit(L"wininit.ini");
    ASSERT_FALSE(FileExists(ini)) << "a WinInit.Ini of someone else's";
    ASSERT_TRUE(WriteFileBytes(ini, "[rename]\r\nNUL=" + Narrow(kArea) + "\\seed.txt\r\n"));
    EXPECT_EQ(MarkAsWindows98(kArea + L"\\old98.txt"), 11u) << "platform 1 (no NT kernel), restart needed";
    EXPECT_EQ(MarkAsWindows98(kArea + L"\\olddir"), 11u);
    CProfile profile;
    ASSERT_TRUE(profile.Load(ini));
    EXPECT_EQ(profile.Text(), "[rename]\r\nNUL=" + Narrow(kArea) + "\\seed.txt\r\nNUL=" +
                                  Narrow(ShortForm(kArea + L"\\old98.txt")) + "\r\n\r\n[DIRNUL]\r\n" +
                                  Narrow(ShortForm(kArea + L"\\olddir")) + "=1\r\n\r\n");
}

TEST(AfterRestart, TheRestartCarriedEverythingOut)
{
    // Wine's start-up knows the "rename" section only; the folder of DIRNUL stays.
    std::vector<std::wstring> left;
    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileW((kArea + L"\\*").c_str(), &data));
    ASSERT_TRUE(find);
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) left.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    EXPECT_EQ(left, std::vector<std::wstring>{L"olddir"});

    const auto pending = PendingDeletions();
    for (const std::wstring& item : pending) EXPECT_EQ(item.find(kArea), std::wstring::npos) << Narrow(item);
    EXPECT_FALSE(FileExists(WinInit(L"wininit.ini")));
    EXPECT_TRUE(FileExists(WinInit(L"wininit.bak"))) << "Wine keeps the carried-out file";
    DeleteFileW(WinInit(L"wininit.bak").c_str());
    win::RemoveTree(kArea);
}

}  // namespace
