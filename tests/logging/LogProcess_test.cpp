#include "DbWinListener.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using namespace testing_support;

namespace {

// The real configuration folder, with logcfg.ini as it was put back at the end.
class RealConfiguration {
public:
    explicit RealConfiguration(const std::string& ini)
    {
        SHCreateDirectoryExW(nullptr, folder().c_str(), nullptr);
        existed_ = FileExists(file());
        if (existed_) old_ = ReadFileBytes(file());
        WriteFileBytes(file(), ini);
    }
    ~RealConfiguration()
    {
        if (existed_) WriteFileBytes(file(), old_);
        else DeleteFileW(file().c_str());
    }
    static std::wstring folder() { return logtest::CommonAppData() + L"\\Zelmar\\Endpoint Guard\\Logcfg"; }
    static std::wstring file() { return folder() + L"\\logcfg.ini"; }

private:
    bool existed_ = false;
    std::string old_;
};

DWORD RunChild(const std::wstring& args, const std::wstring& dir)
{
    return RunAndWait(L"\"" + ProgramDir() + L"\\logging_child.exe\" " + args, dir);
}

int CountContaining(const std::vector<std::string>& messages, const std::string& text)
{
    int n = 0;
    for (const std::string& m : messages) n += m.find(text) != std::string::npos;
    return n;
}

// A program logs through the process-wide manager: the configuration comes
// from the common application data folder, bare file names go to DEFLOGDIR
// or to the fallback folder, and the library's own trace follows the registry.
TEST(LoggingProgram, ConfigurationFolderDeflogdirAndDiagnostics)
{
    RealConfiguration config(
        "[file]\r\nenabled=1\r\ntype=File\r\nfilter=_T(.AGSCommon.Info\r\nformat=%l %F %f %m\r\nencoding=UTF-8\r\nfilename=child.log\r\n"
        "[debugger]\r\nenabled=1\r\ntype=OutputDebugString\r\nfilter=*.*.Info\r\nformat=child ODS %m\r\nencoding=UNICODE\r\n");
    ScratchDir work(L"child");
    const std::wstring deflogdir = work / L"deflog\\x";
    {
        DbWinListener listener;
        ASSERT_TRUE(listener.ok());
        SetEnvironmentVariableW(L"DEFLOGDIR", deflogdir.c_str());
        EXPECT_EQ(RunChild(L"hello", work.path()), 0u);
        SetEnvironmentVariableW(L"DEFLOGDIR", nullptr);
        EXPECT_EQ(ReadFileBytes(deflogdir + L"\\child.log"), "\xEF\xBB\xBFInfo AGSCommon _T(\"AGSCommon\") hello Error=5: Access denied.\r\n");
        EXPECT_TRUE(logtest::Heard(listener, "child ODS hello Error=5: Access denied.\n"));
        EXPECT_TRUE(logtest::Heard(listener, ": DefaultLogManager created!!!\n"));
        EXPECT_EQ(CountContaining(listener.Messages(), "MyLogger "), CountContaining(listener.Messages(), "MyLogger"));
    }

    const std::wstring fallback = logtest::CommonAppData() + L"\\Zelmar\\Endpoint Guard\\Logs\\child.log";
    DeleteFileW(fallback.c_str());
    EXPECT_EQ(RunChild(L"fallback", work.path()), 0u);
    EXPECT_EQ(ReadFileBytes(fallback), "\xEF\xBB\xBFInfo AGSCommon _T(\"AGSCommon\") fallback Error=5: Access denied.\r\n");
    EXPECT_FALSE(FileExists(work / L"%DEFLOGDIR%"));
    DeleteFileW(fallback.c_str());

    // Diagnostics off: the lines still go out, the library's trace does not.
    DWORD off = 0;
    logtest::SetDiagnosticsValue(&off);
    {
        DbWinListener listener;
        ASSERT_TRUE(listener.ok());
        SetEnvironmentVariableW(L"DEFLOGDIR", deflogdir.c_str());
        EXPECT_EQ(RunChild(L"quiet", work.path()), 0u);
        SetEnvironmentVariableW(L"DEFLOGDIR", nullptr);
        EXPECT_TRUE(logtest::Heard(listener, "child ODS quiet Error=5: Access denied.\n"));
        EXPECT_EQ(CountContaining(listener.Messages(), "MyLogger"), 0);
    }
    DWORD on = 1;
    logtest::SetDiagnosticsValue(&on);
}

}  // namespace
