// Platform facts on the real prefix: the version table and the restart request
// through Wine's per-program Windows versions, WOW64 both ways, the special
// folders and their registry fallbacks, the agent's version and the agent's
// right-to-left language export.
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "Scratch.h"

#include <shlobj.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

bool NativeIs64()
{
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// Deletes "SOFTWARE\Zelmar" when a test left it empty.
void RemoveEmptyZelmarKey(HKEY root) { RegDeleteKeyW(root, L"SOFTWARE\\Zelmar"); }

struct VersionRow {
    const wchar_t* setting;  // Wine's per-program "Version"; null: the prefix's default
    const char* report;      // what the probe writes
};

// Wine's "win7" reports a server product type, as Windows Server 2008 R2 does.
// The restart line: the flags requested, the answer, and whether the shutdown
// privilege (disabled when a program starts) was enabled at the request.
const VersionRow kVersions[] = {
    {nullptr, "os=Windows 7|8|1|6|6.1\r\nplatform=2|6.1\r\nrestart=6|0|1\r\n"},
    {L"winxp", "os=Windows XP|5|1|5|5.1\r\nplatform=2|5.1\r\nrestart=6|0|1\r\n"},
    {L"vista", "os=Windows Vista|7|1|6|6.0\r\nplatform=2|6.0\r\nrestart=6|0|1\r\n"},
    {L"win8", "os=Windows Vista|7|1|6|6.2\r\nplatform=2|6.2\r\nrestart=6|0|1\r\n"},
    {L"win7", "os=Windows Vista|7|1|6|6.1\r\nplatform=2|6.1\r\nrestart=6|0|1\r\n"},
    {L"win98", "os=Unsupported OS|9|0|1|4.10\r\nplatform=1|4.10\r\nrestart=2|1|0\r\n"},
};

TEST(PlatformVersion, EachWindowsVersionGetsItsNameIdentifierAndRestart)
{
    ScratchDir dir(L"probe");
    for (const VersionRow& row : kVersions) {
        const std::wstring name = std::wstring(L"zlprobe_") + (row.setting ? row.setting : L"default") + L".exe";
        SCOPED_TRACE(Narrow(name));
        ASSERT_TRUE(CopyFileW(BuildPath(L"tests\\AGSCommon\\platform_probe.exe").c_str(), (dir / name).c_str(), FALSE));
        std::unique_ptr<ScratchKey> setting;
        if (row.setting) {
            setting = std::make_unique<ScratchKey>(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + name);
            ASSERT_EQ(win::WriteString(setting->get(), L"Version", row.setting), ERROR_SUCCESS);
        }
        ASSERT_EQ(RunAndWait(L"\"" + (dir / name) + L"\" \"" + (dir / L"report.txt") + L"\""), 0u);
        EXPECT_EQ(ReadFileBytes(dir / L"report.txt"), row.report);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults");  // only if the tests left it empty
}

TEST(PlatformWow64, FollowsTheBitnessOfWindows)
{
    EXPECT_EQ(IsWow64(), NativeIs64());
    std::wstring path = L"untouched";
    EXPECT_FALSE(GetZuzadaZoziFolder(path));
    EXPECT_EQ(path, L"untouched");
    {
        ScratchKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ZuzadaZozi");
        win::WriteString(key.get(), L"szInstallDir64", L"C:\\Zelmar 64");
        win::WriteString(key.get(), L"szInstallDir32", L"%SystemDrive%\\Zelmar 32", REG_EXPAND_SZ);
        EXPECT_TRUE(GetZuzadaZoziFolder(path));
        EXPECT_EQ(path, NativeIs64() ? L"C:\\Zelmar 64" : L"C:\\Zelmar 32");
    }
    RemoveEmptyZelmarKey(HKEY_LOCAL_MACHINE);
}

TEST(PlatformFolders, NumbersNameTheFoldersOfThisWindows)
{
    const std::wstring programs = NativeIs64() ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
    EXPECT_EQ(GetSpecialFolder(0), programs + L"\\Zelmar\\Managed Quellor");
    EXPECT_EQ(GetSpecialFolder(1), programs);
    EXPECT_EQ(GetSpecialFolder(2), programs + L"\\Common Files");
    EXPECT_EQ(GetSpecialFolder(3), L"C:\\windows");
    EXPECT_EQ(GetSpecialFolder(4), L"C:\\windows\\system32");
    EXPECT_EQ(GetSpecialFolder(5), L"C:\\windows\\system32\\Drivers");
    EXPECT_EQ(GetSpecialFolder(6), L"");
    EXPECT_EQ(GetSpecialFolder(-1), L"");
    std::wstring core;
    EXPECT_TRUE(GetZuzadaZoziFolderFromCommonFiles(core));
    EXPECT_EQ(core, programs + L"\\Common Files\\Zelmar\\AGSSYSCORE");
}

// Puts a value of the process's CurrentVersion key back as it was.
class SavedValue {
public:
    explicit SavedValue(const wchar_t* name) : name_(name)
    {
        win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_ALL_ACCESS,
                     win::RegView::Native, key_);
        RegQueryValueExW(key_.get(), name_, nullptr, &type_, nullptr, &size_);
        data_.resize(size_);
        RegQueryValueExW(key_.get(), name_, nullptr, &type_, data_.data(), &size_);
    }
    ~SavedValue() { RegSetValueExW(key_.get(), name_, 0, type_, data_.data(), size_); }
    HKEY key() const { return key_.get(); }

private:
    const wchar_t* name_;
    win::Key key_;
    DWORD type_ = 0;
    DWORD size_ = 0;
    std::vector<BYTE> data_;
};

TEST(PlatformFolders, WhenTheShellFailsTheRegistryAnswersExpanded)
{
    // The shell refuses a recorded folder that does not exist; the registry still names it.
    SavedValue programs(L"ProgramFilesDir");
    SavedValue common(L"CommonFilesDir");
    ASSERT_EQ(win::WriteString(programs.key(), L"ProgramFilesDir", L"%SystemDrive%\\zltest no programs", REG_EXPAND_SZ),
              ERROR_SUCCESS);
    ASSERT_EQ(win::WriteString(common.key(), L"CommonFilesDir", L"%SystemDrive%\\zltest no common", REG_EXPAND_SZ),
              ERROR_SUCCESS);
    EXPECT_EQ(GetSpecialFolder(1), L"C:\\zltest no programs");
    EXPECT_EQ(GetSpecialFolder(0), L"") << "the product folder has no fallback when the shell fails";
    EXPECT_EQ(GetSpecialFolder(2), L"C:\\zltest no common");
    std::wstring core;
    EXPECT_TRUE(GetZuzadaZoziFolderFromCommonFiles(core));
    EXPECT_EQ(core, L"C:\\zltest no common\\Zelmar\\AGSSYSCORE");
}

class AgentVersion : public ::testing::Test {
protected:
    const std::wstring folder = L"C:\\zltest-agent-" + std::to_wstring(GetCurrentProcessId());
    void TearDown() override
    {
        win::RemoveTree(folder);
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices", win::RegView::Native);
        RemoveEmptyZelmarKey(HKEY_LOCAL_MACHINE);
    }
};

TEST_F(AgentVersion, DefaultsTo10WhenAnythingIsMissing)
{
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no ManagedServices key";
    ScratchKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices");
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no szInstallDir value";
    win::WriteString(key.get(), L"szInstallDir", folder);
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "no agent program";
    win::WriteDword(key.get(), L"szInstallDir", 5);
    EXPECT_EQ(GetAgentVersion(), L"10.0.0") << "value of the wrong type";
}

TEST_F(AgentVersion, AnExpandableFolderIsExpanded)
{
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, (folder + L"\\Agent").c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\agent\\tvAgtSvc_older.exe").c_str(),
                          (folder + L"\\Agent\\tvAgtSvc.exe").c_str(), FALSE));
    ScratchKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices");
    win::WriteString(key.get(), L"szInstallDir", L"%SystemDrive%" + folder.substr(2), REG_EXPAND_SZ);
    EXPECT_EQ(GetAgentVersion(), L"9.8.1.200");
}

class AgentLanguageExport : public ::testing::Test {
protected:
    ScratchDir dir{L"rtl"};
    wchar_t previous[MAX_PATH] = {};
    std::vector<std::wstring> lines;
    RunLogLine log = [this](const wchar_t* line) { lines.push_back(line); };

    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(dir.path().c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(previous);
        g_RightToLeft = 0;
        win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices", win::RegView::Native);
        RemoveEmptyZelmarKey(HKEY_LOCAL_MACHINE);
    }
    // The agent's export is a UTF-16 registry file; padding moves the entry back.
    void WriteExport(const std::wstring& entry, size_t padding = 0)
    {
        std::wstring text = L"\xFEFFWindows Registry Editor Version 5.00\r\n" + std::wstring(padding, L';') +
                            L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelmar\\ManagedServices\\Agent]\r\n" + entry;
        ASSERT_TRUE(WriteFileBytes(dir / L"TarvoAgt_l.Reg",
                                   std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
    }
    std::wstring AgentLanguage()
    {
        win::Key key;
        std::wstring value;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent", KEY_READ,
                         win::RegView::Native, key) == ERROR_SUCCESS)
            win::ReadString(key.get(), L"XmlLanguageID", value);
        return value;
    }
};

TEST_F(AgentLanguageExport, HebrewInAnyCaseAsksForRightToLeft)
{
    std::wstring language;
    WriteExport(L"\"XmlLanguageID\"=\"HEB\"\r\n");
    EXPECT_TRUE(IsRTLSupportRequired(language, log));
    EXPECT_EQ(language, L"HEB");
    EXPECT_EQ(lines,
              (std::vector<std::wstring>{L"Calling IsRTLSupportRequired()", L"Call End IsRTLSupportRequired()"}));
    SetRtlLanguage(log);
    EXPECT_EQ(g_RightToLeft, 1);
    EXPECT_EQ(AgentLanguage(), L"HEB");
}

TEST_F(AgentLanguageExport, OtherLanguagesAndBrokenFilesDoNot)
{
    std::wstring language = L"untouched";
    EXPECT_FALSE(IsRTLSupportRequired(language, log));
    ASSERT_TRUE(WriteFileBytes(dir / L"TarvoAgt_l.Reg", ""));
    EXPECT_FALSE(IsRTLSupportRequired(language, log));
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"Calling IsRTLSupportRequired()", L"Could not open TarvoAgt_l.Reg",
                                                L"Calling IsRTLSupportRequired()", L"Could not read TarvoAgt_l.Reg"}));
    // Another language; a value cut off by the file's end; an entry past the 9998 bytes that are read.
    for (auto [entry, padding] : {std::pair{L"\"XmlLanguageID\"=\"ara\"", 0}, std::pair{L"\"XmlLanguageID\"=\"he", 0},
                                  std::pair{L"\"XmlLanguageID\"=\"heb\"", 4950}}) {
        WriteExport(entry, padding);
        EXPECT_FALSE(IsRTLSupportRequired(language, log)) << Narrow(entry);
    }
    EXPECT_EQ(language, L"untouched");
    SetRtlLanguage(log);
    EXPECT_EQ(g_RightToLeft, 0);
    EXPECT_EQ(AgentLanguage(), L"");
}

}  // namespace
