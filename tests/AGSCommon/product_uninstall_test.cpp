// Uninstalling a product by its code through the command its Uninstall key
// holds, with a recording program standing in for that command.
#include "ProcessRunner.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

constexpr wchar_t kProduct[] = L"{7B0E4C2D-5A1F-4B3E-9C8D-1E2F3A4B5C6D}";
const std::wstring kKeyPath = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct;

// The pauses between runs are recorded, not slept, so the whole budget runs.
std::vector<DWORD> g_pauses;
VOID WINAPI RecordPause(DWORD milliseconds) { g_pauses.push_back(milliseconds); }

class ProductUninstall : public ::testing::Test {
protected:
    ScratchDir dir{L"uninstall"};
    std::wstring starts = dir / L"starts.txt";
    ScopedEnv log{L"ZL_STUB_LOG", starts};
    std::wstring stub = L"\"" + BuildPath(L"testbed\\stub\\childstub.exe") + L"\"";
    // The common library's entries, one line each: "<severity> <message>".
    std::wstring entries = dir / L"AGSCommon.log";
    MachineLogConfig config{"[AGSCommon]\r\nenabled=1\r\ntype=File\r\nfilter=*.AGSCommon.Error|Info\r\n"
                            "format=%l %m\r\nencoding=ANSI\r\nfilename=" +
                            Narrow(entries) + "\r\n"};

    const std::string command = Narrow(stub + L" /X" + kProduct + L" /qn ");
    RetryPause sleep = nullptr;

    void SetUp() override
    {
        g_pauses.clear();
        sleep = SetRetryPause(RecordPause);
    }
    void TearDown() override { SetRetryPause(sleep); }

    std::vector<std::string> Starts() { return SplitLines(ReadFileBytes(starts)); }
    std::vector<std::string> Entries() { return SplitLines(ReadFileBytes(entries)); }

    // Registers "<stand-in> /I<product>" in the 64-bit view and uninstalls
    // with the stand-in ending each run as listed.
    bool UninstallWithExits(const wchar_t* exits)
    {
        ScratchKey key(HKEY_LOCAL_MACHINE, kKeyPath, win::RegView::Bit64);
        win::WriteString(key.get(), L"UninstallString", stub + L" /I" + kProduct);
        ScopedEnv codes(L"ZL_STUB_EXITS", exits);
        return UninstallProductFromGUID(kProduct);
    }
};

TEST_F(ProductUninstall, RetriesWhileAnotherInstallationRunsThenSucceeds)
{
    EXPECT_TRUE(UninstallWithExits(L"1618,1618,0"));
    EXPECT_EQ(Starts(), std::vector<std::string>(3, command));
    EXPECT_EQ(g_pauses, (std::vector<DWORD>{5000, 5000}));
    EXPECT_EQ(Entries().back(), "Info Ran process " + command + " 0 ");
}

TEST_F(ProductUninstall, AnotherInstallationOnEveryRunSpendsTheWholeBudget)
{
    EXPECT_FALSE(UninstallWithExits(L"1618"));
    EXPECT_EQ(Starts().size(), 61u);
    EXPECT_EQ(g_pauses, std::vector<DWORD>(60, 5000));
    auto lines = Entries();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Info Ran process " + command + " 1618 "), 61);
    EXPECT_EQ(lines.back(),
              "Info UninstallProductFromGUID(): Could not UnInstall [" + Narrow(kProduct) + "], ERROR: 1618");
}

TEST_F(ProductUninstall, RestartRequiredIsAFailureAfterOneRun)
{
    EXPECT_FALSE(UninstallWithExits(L"3010,0"));
    EXPECT_EQ(Starts().size(), 1u);
    auto lines = Entries();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "Info RunProcess():: Command Line Argument - " + command);
    EXPECT_EQ(lines[2].rfind("Error RunProcess():: Process [" + command + "] return Fail. ExitCode=3010 ErrorCode=", 0),
              0u)
        << lines[2];
    EXPECT_EQ(lines[3], "Info Ran process " + command + " 3010 ");
    EXPECT_EQ(lines[4], "Info UninstallProductFromGUID(): Could not UnInstall [" + Narrow(kProduct) + "], ERROR: 3010");
}

TEST_F(ProductUninstall, LowerCaseInstallSwitchIsRunAsStoredWithQuietAppended)
{
    // Found through the second open: the key lies only in the 32-bit view.
    ScratchKey key(HKEY_LOCAL_MACHINE, kKeyPath, win::RegView::Bit32);
    win::WriteString(key.get(), L"UninstallString", stub + L" /i" + kProduct, REG_EXPAND_SZ);
    EXPECT_TRUE(UninstallProductFromGUID(kProduct));
    auto runs = Starts();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], Narrow(stub + L" /i" + kProduct + L" /qn "));
}

TEST_F(ProductUninstall, NothingRunsWithoutAUsableUninstallString)
{
    EXPECT_FALSE(UninstallProductFromGUID(kProduct)) << "no key in either view";
    EXPECT_EQ(Entries().back(), "Info UninstallProductFromGUID(): Product [" + Narrow(kProduct) +
                                    "] is not Installed. [InstalledProductInfo] doesn't match is "
                                    "[CurrentVersion\\Uninstall]");

    ScratchKey key(HKEY_LOCAL_MACHINE, kKeyPath, win::RegView::Bit64);
    EXPECT_FALSE(UninstallProductFromGUID(kProduct)) << "no value";
    win::WriteString(key.get(), L"UninstallString", L"");
    EXPECT_FALSE(UninstallProductFromGUID(kProduct)) << "empty value";
    win::WriteDword(key.get(), L"UninstallString", 1);
    EXPECT_FALSE(UninstallProductFromGUID(kProduct)) << "value of another type";
    // 300 characters do not fit the 260-character buffer: nothing is cut and run.
    win::WriteString(key.get(), L"UninstallString", stub + L" /I" + std::wstring(300, L'x'));
    EXPECT_FALSE(UninstallProductFromGUID(kProduct)) << "value too long";
    EXPECT_FALSE(FileExists(starts)) << "something ran";
}

}  // namespace
