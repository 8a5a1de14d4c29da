#include "FaultGuard.h"

#include <windows.h>

// How it works: a vectored handler sees the access violation first. When the
// faulting thread is inside a guard, the handler does not jump out of the
// exception dispatch itself; it lets the dispatcher continue the thread at
// Resume() on a fresh part of the stack below the fault, and Resume() jumps
// back to the recovery point that the guard recorded with __builtin_setjmp.
// Continuing through the dispatcher restores the thread's signal and
// exception state the normal way, which a jump out of the handler would not.

namespace win {
namespace {

struct RecoveryPoint {
    void* jump[5];  // __builtin_setjmp buffer
    RecoveryPoint* outer;
#ifndef _WIN64
    void* sehChain;  // x86 frame-based handler chain at the guard
#endif
};

#ifndef _WIN64
void* ReadSehChain()
{
    void* chain;
    asm volatile("movl %%fs:0, %0" : "=r"(chain));
    return chain;
}

void WriteSehChain(void* chain) { asm volatile("movl %0, %%fs:0" : : "r"(chain) : "memory"); }
#endif

class Guards {
public:
    Guards() noexcept : slot_(TlsAlloc()), handler_(AddVectoredExceptionHandler(1, &Guards::OnException)) {}
    ~Guards()
    {
        if (handler_) RemoveVectoredExceptionHandler(handler_);
        if (slot_ != TLS_OUT_OF_INDEXES) TlsFree(slot_);
    }
    Guards(const Guards&) = delete;
    Guards& operator=(const Guards&) = delete;

    bool usable() const noexcept { return slot_ != TLS_OUT_OF_INDEXES && handler_ != nullptr; }
    RecoveryPoint* current() const noexcept { return static_cast<RecoveryPoint*>(TlsGetValue(slot_)); }
    void setCurrent(RecoveryPoint* point) const noexcept { TlsSetValue(slot_, point); }

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* info);

    DWORD slot_;
    PVOID handler_;
};

Guards& TheGuards()
{
    static Guards guards;
    return guards;
}

[[noreturn]] __attribute__((noinline)) void Resume()
{
    RecoveryPoint* point = TheGuards().current();
#ifndef _WIN64
    // Frames registered by the abandoned calls must not stay on the chain.
    WriteSehChain(point->sehChain);
#endif
    __builtin_longjmp(point->jump, 1);
}

LONG CALLBACK Guards::OnException(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    Guards& guards = TheGuards();
    if (!guards.usable() || guards.current() == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    // Continue in Resume() as if it had been called, well below the faulting frame.
    CONTEXT* context = info->ContextRecord;
#ifdef _WIN64
    context->Rsp = ((context->Rsp - 512) & ~static_cast<DWORD64>(15)) - 8;
    context->Rip = reinterpret_cast<DWORD64>(&Resume);
#else
    context->Esp = ((context->Esp - 512) & ~static_cast<DWORD>(15)) - 4;
    context->Eip = reinterpret_cast<DWORD>(&Resume);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

__attribute__((noinline)) bool CallGuardedAgainstAccessViolation(void (*work)(void*), void* context) noexcept
{
    Guards& guards = TheGuards();
    if (!guards.usable()) {
        work(context);
        return true;
    }
    RecoveryPoint point;
    point.outer = guards.current();
#ifndef _WIN64
    point.sehChain = ReadSehChain();
#endif
    if (__builtin_setjmp(point.jump)) {
        guards.setCurrent(point.outer);
        return false;
    }
    guards.setCurrent(&point);
    work(context);
    guards.setCurrent(point.outer);
    return true;
}

}  // namespace win
