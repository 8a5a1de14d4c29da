// Guardswitch: turns the suite's self-protection on ("/EnableSP") or off
// ("/DisableSP") for Sweeper and for the suite's validated installer custom
// actions, and for nobody else. Answers through its exit code.
#include "DllSearch.h"
#include "ParentCheck.h"
#include "SelfProtection.h"
#include "argswitch.h"

#include "Handle.h"

#include <shellapi.h>

namespace {

// First of all, before the switches register: no library the program loads
// from now on comes from the caller's current folder. Whether that worked
// decides whether the trust library may be looked for by its bare name.
[[maybe_unused]] const bool g_currentFolderOut = TakeCurrentFolderOutOfDllSearch();

CArgSwitch g_enableSp(L"EnableSP", false);
CArgSwitch g_disableSp(L"DisableSP", false);

constexpr DWORD kRefused = 0xFFFFFFFF;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    static int argc = 0;
    static const win::LocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
    ProcessSwitches().Parse(arguments ? argc : 0, static_cast<wchar_t**>(arguments.get()));

    if (!g_enableSp.given() && !g_disableSp.given()) return static_cast<int>(kRefused);
    bool enable = g_enableSp.given();

    if (!VerifyCaller(ProcessTrust())) {
        OutputDebugStringW(L"DisableSpSwitch: VerifyParentRunningZelmarDll failed.");
        return static_cast<int>(kRefused);
    }
    return static_cast<int>(SwitchSelfProtection(enable));
}
