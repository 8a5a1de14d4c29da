// Unregistering a COM server module in-process: the recording stand-in
// module tells how it was called.
#include "Unregister.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class InProcessUnregistration : public ::testing::Test {
protected:
    ScratchDir dir{L"comserver"};
    std::wstring calls = dir / L"calls.txt";
    ScopedEnv log{L"ZL_COM_LOG", calls};
    std::wstring module = BuildPath(L"testbed\\comserver\\comserver.dll");
    UINT callerMode = SEM_NOGPFAULTERRORBOX;
    UINT previous = 0;

    void SetUp() override { previous = SetErrorMode(callerMode); }
    void TearDown() override { SetErrorMode(previous); }
    UINT ModeNow()
    {
        const UINT mode = SetErrorMode(0);
        SetErrorMode(mode);
        return mode;
    }
};

TEST_F(InProcessUnregistration, ExportRunsWithComAndWithoutErrorBoxesThenAllIsPutBack)
{
    UnregisterServerInProcess(module.c_str());

    EXPECT_EQ(SplitLines(ReadFileBytes(calls)),
              std::vector<std::string>{"DllUnregisterServer 32 " + Narrow(module) + " com=1 errormode=0x8001"});
    EXPECT_EQ(GetModuleHandleW(module.c_str()), nullptr) << "module left loaded";
    EXPECT_EQ(ModeNow(), callerMode);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(hr, S_OK) << "COM left initialised";
    if (SUCCEEDED(hr)) CoUninitialize();
}

// A thread already in the multithreaded apartment refuses the call's own
// initialisation; the call must not undo the caller's.
TEST_F(InProcessUnregistration, CallersOwnComInitialisationIsLeftInPlace)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    UnregisterServerInProcess(module.c_str());
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(again, S_FALSE) << "the caller's COM was uninitialised";
    if (SUCCEEDED(again)) CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(SplitLines(ReadFileBytes(calls)).size(), 1u);
}

TEST_F(InProcessUnregistration, ModuleThatDoesNotLoadIsPassedOver)
{
    UnregisterServerInProcess((dir / L"missing.dll").c_str());
    UnregisterServerInProcess(L"");
    EXPECT_FALSE(FileExists(calls));
    EXPECT_EQ(ModeNow(), callerMode);
}

}  // namespace
