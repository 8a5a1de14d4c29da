// Windows Defender's client library, as a stand-in: the two entry points the
// removal looks up by name. The state and any failure are chosen by the test
// through the environment; every call is recorded (testbed/suite/Record.h).
//   ZL_DEFENDER_STATE  the state WDStatus reports (0 when not set; 1 = enabled)
//   ZL_DEFENDER_FAIL   "WDStatus" or "WDEnable": that call fails with E_FAIL
//                      and leaves ERROR_ACCESS_DENIED as the last error
//   ZL_DEFENDER_LOG    the record: "WDStatus -> <state>", "WDEnable <state>"
#include "Record.h"

namespace {

bool Fails(const wchar_t* entry) { return standin::Env(L"ZL_DEFENDER_FAIL") == entry; }

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI WDStatus(BOOL* state)
{
    if (Fails(L"WDStatus")) {
        standin::Record(L"ZL_DEFENDER_LOG", L"WDStatus failed");
        SetLastError(ERROR_ACCESS_DENIED);
        return E_FAIL;
    }
    *state = static_cast<BOOL>(standin::EnvNumber(L"ZL_DEFENDER_STATE", 0));
    standin::Record(L"ZL_DEFENDER_LOG", L"WDStatus -> " + std::to_wstring(*state));
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI WDEnable(BOOL state)
{
    standin::Record(L"ZL_DEFENDER_LOG", L"WDEnable " + std::to_wstring(state));
    if (Fails(L"WDEnable")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return E_FAIL;
    }
    return S_OK;
}
