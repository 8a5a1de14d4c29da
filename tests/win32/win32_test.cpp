#include "Handle.h"
#include "Registry.h"
#include "Scratch.h"
#include "Wow64.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

bool RunsUnderWow64()
{
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
}

bool IsWindows64()
{
#ifdef _WIN64
    return true;
#else
    return RunsUnderWow64();
#endif
}

TEST(HandleOwner, ClosingKeepsTheLastError)
{
    win::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    SetLastError(ERROR_ACCESS_DENIED);
    event.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(event);
}

TEST(HandleOwner, InvalidHandleValueCountsAsEmpty)
{
    win::Handle file(CreateFileW(L"C:\\no\\such\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file);
    win::Handle moved(std::move(file));
    EXPECT_FALSE(moved);
}

TEST(HandleOwner, MoveTransfersOwnership)
{
    win::Handle a(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE raw = a.get();
    win::Handle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
    EXPECT_TRUE(SetEvent(b.get()));
}

// The 32-bit view is a separate tree on 64-bit Windows and the same tree on
// 32-bit Windows; every helper must honour the view it is given.
TEST(RegistryViews, KeyInOneViewIsSeenOnlyThereOnWindows64)
{
    const std::wstring path = L"SOFTWARE\\ZelmarTests\\Views";
    ScratchKey key32(HKEY_LOCAL_MACHINE, path, win::RegView::Bit32);
    ASSERT_NE(key32.get(), nullptr);
    ASSERT_EQ(win::WriteString(key32.get(), L"szInstallDir", L"C:\\x"), ERROR_SUCCESS);

    win::Key other;
    LONG rc = win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Bit64, other);
    if (IsWindows64()) {
        EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND) << "32-bit key leaked into the 64-bit view";
    } else {
        ASSERT_EQ(rc, ERROR_SUCCESS) << "on 32-bit Windows both views are one tree";
        std::wstring value;
        EXPECT_EQ(win::ReadString(other.get(), L"szInstallDir", value), ERROR_SUCCESS);
        EXPECT_EQ(value, L"C:\\x");
    }
}

TEST(RegistryValues, StringWithoutTerminatorIsReadWhole)
{
    ScratchKey key(HKEY_CURRENT_USER, L"Software\\ZelmarTests\\Strings");
    const wchar_t raw[] = {L'a', L'b', L'c'};
    ASSERT_EQ(RegSetValueExW(key.get(), L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), sizeof(raw)),
              ERROR_SUCCESS);
    std::wstring value = L"untouched";
    EXPECT_EQ(win::ReadString(key.get(), L"v", value), ERROR_SUCCESS);
    EXPECT_EQ(value, L"abc");

    ASSERT_EQ(win::WriteDword(key.get(), L"d", 7), ERROR_SUCCESS);
    std::wstring left = L"untouched";
    EXPECT_EQ(win::ReadString(key.get(), L"d", left), ERROR_INVALID_DATATYPE);
    EXPECT_EQ(left, L"untouched");
}

TEST(Wow64Redirection, GuardReachesTheNativeSystemFolderOnlyUnderWow64)
{
    if (!RunsUnderWow64()) {
        win::FsRedirectionOff off;
        EXPECT_FALSE(off.active()) << "nothing to switch off outside WOW64";
        return;
    }
    // A marker in the real system folder (reached through Sysnative) is seen
    // under "system32" only while redirection is off.
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring native = std::wstring(windows) + L"\\Sysnative\\zltest-redirection.txt";
    const std::wstring system32 = std::wstring(windows) + L"\\system32\\zltest-redirection.txt";
    ASSERT_TRUE(WriteFileBytes(native, "marker"));
    EXPECT_FALSE(FileExists(system32)) << "redirected: system32 is the 32-bit folder";
    {
        win::FsRedirectionOff off;
        EXPECT_TRUE(off.active());
        EXPECT_TRUE(FileExists(system32)) << "with redirection off, system32 is the real system folder";
    }
    EXPECT_FALSE(FileExists(system32)) << "redirection is back at scope end";
    DeleteFileW(native.c_str());
}

}  // namespace
