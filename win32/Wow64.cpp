#include "Wow64.h"

namespace win {

namespace {
using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

// Looked up by name: these entry points are missing on 32-bit Windows XP.
template <typename Fn>
Fn Kernel32Export(const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"kernel32"), name));
}
}  // namespace

FsRedirectionOff::FsRedirectionOff() noexcept
{
    if (auto disable = Kernel32Export<DisableFn>("Wow64DisableWow64FsRedirection")) disabled_ = disable(&old_) != FALSE;
}

FsRedirectionOff::~FsRedirectionOff()
{
    if (!disabled_) return;
    LastErrorKeeper keep;
    if (auto revert = Kernel32Export<RevertFn>("Wow64RevertWow64FsRedirection")) revert(old_);
}

}  // namespace win
