// Windows Defender's state restored through the stand-in client library, by a
// child program that Wine shows the Windows version a test chooses.
#include <gtest/gtest.h>

#include "ProgramVersion.h"
#include "Scratch.h"

#include <shlobj.h>

using namespace testing_support;

namespace {

const std::wstring kRecordKey = L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor";
const std::wstring kXpComponentKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\"
    L"2C0AE3FC5E402AD4F830763481A3E961";

std::wstring ProgramFiles()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
    return folder;
}

class DefenderRestore : public ::testing::Test {
protected:
    void SetUp() override
    {
        madeFolder_ = CreateDirectoryW(folder_.c_str(), nullptr) != FALSE;
        ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\defender\\MpClient.dll").c_str(), library_.c_str(), FALSE));
    }
    void TearDown() override
    {
        DeleteFileW(library_.c_str());
        if (madeFolder_) RemoveDirectoryW(folder_.c_str());
        win::DeleteTree(HKEY_LOCAL_MACHINE, kRecordKey, win::RegView::Native);
        for (const wchar_t* parent : {L"SOFTWARE\\Zelmar\\ManagedServices", L"SOFTWARE\\Zelmar"})
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent);
        win::DeleteTree(HKEY_LOCAL_MACHINE, kXpComponentKey, win::RegView::Native);
    }

    void Record(DWORD type, const void* data, DWORD bytes)
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, kRecordKey, KEY_SET_VALUE, win::RegView::Native, key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), L"PrevWDStatus", 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    void RecordEnabled()
    {
        const DWORD one = 1;
        Record(REG_DWORD, &one, sizeof(one));
    }

    // The run log's lines between its banners.
    std::vector<std::string> Run()
    {
        ScopedEnv record(L"ZL_DEFENDER_LOG", calls_);
        EXPECT_EQ(RunAndWait(L"\"" + BuildPath(L"tests\\uprooter\\defender_child.exe") + L"\" \"" + log_ + L"\""), 0u);
        std::vector<std::string> lines = SplitLines(ReadFileBytes(log_));
        if (lines.size() >= 2) lines = std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
        return lines;
    }
    std::vector<std::string> Calls() const { return SplitLines(ReadFileBytes(calls_)); }

    ScratchDir scratch_{L"defender"};
    const std::wstring log_ = scratch_ / L"run.log", calls_ = scratch_ / L"MpClient.calls";
    const std::wstring folder_ = ProgramFiles() + L"\\Windows Defender", library_ = folder_ + L"\\MpClient.dll";
    bool madeFolder_ = false;
};

std::string Shown(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += "\n    " + line;
    return text;
}

TEST_F(DefenderRestore, AnEnabledDefenderIsEnabledAgain)
{
    RecordEnabled();
    const std::vector<std::string> lines = Run();
    const std::vector<std::string> expected = {
        "Restoring previous Windows Defender Status...", "Got Previous WDStatus as 1",
        "Restoring the previous windows defender status 1", "Detected Vista...",
        "Loading Windows Defender library " + Narrow(library_) + " ", "Windows Defender found on this system...",
        "Getting WD current status ...", "Got current WD status as 0...", "Setting WD status to 1...",
        "Completed setting WD status to 1...", "Restored the previous windows defender status 1"};
    EXPECT_EQ(lines, expected) << Shown(lines);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"WDStatus -> 0", "WDEnable 1"}));
}

TEST_F(DefenderRestore, AnAlreadyEnabledDefenderIsLeftAsItIsAndCountsAsRestored)
{
    RecordEnabled();
    ScopedEnv state(L"ZL_DEFENDER_STATE", L"1");
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(Calls(), std::vector<std::string>{"WDStatus -> 1"});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Got current WD status as 1...") << Shown(lines);
    EXPECT_EQ(lines.back(), "Restored the previous windows defender status 1") << Shown(lines);
}

// Zero, a missing value and the text "1" leave Defender untouched.
TEST_F(DefenderRestore, AnythingButARecordedOneLeavesDefenderAlone)
{
    struct Case {
        const char* name;
        DWORD type;
        std::wstring text;
        DWORD number;
        const char* read;
    };
    const Case cases[] = {{"zero", REG_DWORD, L"", 0, "Got Previous WDStatus as 0"},
                          {"missing", REG_NONE, L"", 0, "Got Previous WDStatus as -1"},
                          {"text", REG_SZ, L"1", 0, "Got Previous WDStatus as -1"}};
    for (const Case& c : cases) {
        win::DeleteTree(HKEY_LOCAL_MACHINE, kRecordKey, win::RegView::Native);
        if (c.type == REG_DWORD) Record(REG_DWORD, &c.number, sizeof(c.number));
        if (c.type == REG_SZ) Record(REG_SZ, c.text.c_str(), static_cast<DWORD>((c.text.size() + 1) * sizeof(wchar_t)));
        DeleteFileW(log_.c_str());
        EXPECT_EQ(Run(), (std::vector<std::string>{"Restoring previous Windows Defender Status...", c.read})) << c.name;
        EXPECT_FALSE(FileExists(calls_)) << c.name << ": the library was called";
    }
}

TEST_F(DefenderRestore, AFailedEnableIsLoggedAndNotCountedAsRestored)
{
    RecordEnabled();
    ScopedEnv fail(L"ZL_DEFENDER_FAIL", L"WDEnable");
    const std::vector<std::string> lines = Run();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Failed to set WD status to 1...GetLastError = 5") << Shown(lines);
}

TEST_F(DefenderRestore, AMissingOrForeignLibraryIsNotCalled)
{
    RecordEnabled();
    DeleteFileW(library_.c_str());
    std::vector<std::string> lines = Run();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Windows Defender not installed...") << Shown(lines);

    // A library without the two entry points.
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\suite\\ZlVariantExport.dll").c_str(), library_.c_str(), FALSE));
    DeleteFileW(log_.c_str());
    lines = Run();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Looks like WD install corrupted!...") << Shown(lines);
    EXPECT_FALSE(FileExists(calls_));
}

TEST_F(DefenderRestore, AWindows8WorkstationKeepsDefenderAsItIs)
{
    RecordEnabled();
    ProgramVersion win8(L"defender_child.exe", L"win8");
    const std::vector<std::string> lines = Run();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "This is a Windows 8 client OS 1 6 2...") << Shown(lines);
    EXPECT_EQ(lines.back(), "Did not set Windows Defender state because this is Windows 8") << Shown(lines);
    EXPECT_FALSE(FileExists(calls_)) << "Defender was asked on Windows 8";
}

// On Windows XP the library is where the installed component says.
TEST_F(DefenderRestore, WindowsXpFindsTheLibraryThroughTheInstalledComponent)
{
    RecordEnabled();
    ProgramVersion xp(L"defender_child.exe", L"winxp");
    std::vector<std::string> lines = Run();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Windows Defender not installed...") << "without the component:" << Shown(lines);

    // The component names Windows Defender's own library: it is loaded.
    const auto component = [](const std::wstring& library) {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, kXpComponentKey, KEY_SET_VALUE, win::RegView::Native, key),
                  ERROR_SUCCESS);
        ASSERT_EQ(win::WriteString(key.get(), L"4F57260AB42358E4596E782BDC274910", library), ERROR_SUCCESS);
    };
    component(library_);
    DeleteFileW(log_.c_str());
    lines = Run();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Detected WinXP or Win2K3Server...Trying to see if Windows Defender installed..."),
              lines.end())
        << Shown(lines);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Loading Windows Defender library " + Narrow(library_) + " "),
              lines.end())
        << Shown(lines);

    // A library anywhere else is not loaded, whatever its name.
    const std::wstring elsewhere = scratch_ / L"MpClient.dll";
    ASSERT_TRUE(CopyFileW(library_.c_str(), elsewhere.c_str(), FALSE));
    component(elsewhere);
    DeleteFileW(log_.c_str());
    lines = Run();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Refusing to load " + Narrow(elsewhere) + ": outside the folders it may lie in"),
              lines.end())
        << Shown(lines);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"WDStatus -> 0", "WDEnable 1"}));
}

}  // namespace
