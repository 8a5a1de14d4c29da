#include "LogTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <iterator>

using namespace testing_support;

namespace logtest {

namespace {
const wchar_t kZelmarKey[] = L"SOFTWARE\\Zelmar";
// The diagnostics switch's key and its parents below kZelmarKey, deepest first.
const wchar_t* const kLogKeys[] = {L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Log", L"SOFTWARE\\Zelmar\\Endpoint\\Common",
                                   L"SOFTWARE\\Zelmar\\Endpoint"};

bool KeyExists(win::RegView view, const wchar_t* path = kZelmarKey)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

// Whatever of the suite's folder and keys this program creates goes again at
// its end. The diagnostics switch is on for the whole program, so that the
// tests can read the library's own trace.
class MachineState : public ::testing::Environment {
public:
    void SetUp() override
    {
        folderExisted_ = FileExists(CommonAppData() + L"\\Zelmar");
        key64Existed_ = KeyExists(win::RegView::Bit64);
        key32Existed_ = KeyExists(win::RegView::Bit32);
        for (size_t i = 0; i < std::size(kLogKeys); ++i) logKeysExisted_[i] = KeyExists(win::RegView::Bit64, kLogKeys[i]);
        DWORD on = 1;
        SetDiagnosticsValue(&on);
    }
    void TearDown() override
    {
        SetDiagnosticsValue(nullptr);
        // Also when the suite's key was there before: the switch's keys are ours.
        for (size_t i = 0; i < std::size(kLogKeys); ++i)
            if (!logKeysExisted_[i]) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLogKeys[i], KEY_WOW64_64KEY, 0);
        if (!folderExisted_) win::RemoveTree(CommonAppData() + L"\\Zelmar");
        if (!key64Existed_) win::DeleteTree(HKEY_LOCAL_MACHINE, kZelmarKey, win::RegView::Bit64);
        if (!key32Existed_) win::DeleteTree(HKEY_LOCAL_MACHINE, kZelmarKey, win::RegView::Bit32);
    }

private:
    bool folderExisted_ = false;
    bool key64Existed_ = false;
    bool key32Existed_ = false;
    bool logKeysExisted_[std::size(kLogKeys)] = {};
};

[[maybe_unused]] ::testing::Environment* const kMachineState = ::testing::AddGlobalTestEnvironment(new MachineState);
}  // namespace

std::wstring CommonAppData()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

::testing::AssertionResult Heard(DbWinListener& listener, const std::string& text)
{
    if (listener.WaitFor(text)) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "expected debugger output containing \"" << text << "\", received:";
    for (const std::string& m : listener.Messages()) failure << "\n  \"" << m << "\"";
    return failure;
}

void SetDiagnosticsValue(const DWORD* value)
{
    win::Key key;
    if (win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Log", KEY_ALL_ACCESS,
                       win::RegView::Bit64, key) != ERROR_SUCCESS)
        return;
    if (value) win::WriteDword(key.get(), L"dwIsDebugOutputEnabled", *value);
    else RegDeleteValueW(key.get(), L"dwIsDebugOutputEnabled");
}

ManagerBench::ManagerBench(const std::wstring& name) : scratch_(name)
{
    CreateDirectoryW((scratch_ / L"cfg").c_str(), nullptr);
    CreateDirectoryW(logDir().c_str(), nullptr);
    manager_ = std::make_unique<LogUtils::DefaultLogManager>(scratch_ / L"cfg", configFile(), logDir());
}

void ManagerBench::WriteConfig(const std::string& text) const
{
    // A reload holds the file open for reading only a moment.
    for (int attempt = 0; attempt < 500 && !WriteFileBytes(configFile(), text); ++attempt) Sleep(1);
}

}  // namespace logtest
