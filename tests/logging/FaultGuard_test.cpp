#include "FaultGuard.h"
#include "Handle.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct Probe {
    const volatile int* address;
    int value = 0;
    int nestedResult = -1;
};

void Read(void* context)
{
    auto* probe = static_cast<Probe*>(context);
    probe->value = *probe->address;
}

void ReadInsideAnotherGuard(void* context)
{
    auto* probe = static_cast<Probe*>(context);
    probe->nestedResult = win::CallGuardedAgainstAccessViolation(&Read, probe) ? 1 : 0;
    probe->value = 99;  // the outer call goes on after the inner fault
}

DWORD WINAPI ReadBadPointersRepeatedly(void*)
{
    for (int i = 0; i < 500; ++i) {
        Probe probe{reinterpret_cast<const volatile int*>(static_cast<uintptr_t>(0x10 + i * 4))};
        if (win::CallGuardedAgainstAccessViolation(&Read, &probe)) return 1;
    }
    return 0;
}

TEST(FaultGuard, CatchesARealAccessViolationAndRunsGoodWork)
{
    ZL_SKIP_BAD_READS_UNDER_EMULATION();
    const int good = 42;
    Probe ok{&good};
    EXPECT_TRUE(win::CallGuardedAgainstAccessViolation(&Read, &ok));
    EXPECT_EQ(ok.value, 42);
    SetLastError(77);
    Probe bad{reinterpret_cast<const volatile int*>(static_cast<uintptr_t>(8))};
    EXPECT_FALSE(win::CallGuardedAgainstAccessViolation(&Read, &bad));
    EXPECT_EQ(bad.value, 0);
    // The thread goes on normally, also through a second fault.
    EXPECT_FALSE(win::CallGuardedAgainstAccessViolation(&Read, &bad));
}

TEST(FaultGuard, NestedGuardsAndThreadsRecoverIndependently)
{
    ZL_SKIP_BAD_READS_UNDER_EMULATION();
    Probe probe{reinterpret_cast<const volatile int*>(static_cast<uintptr_t>(8))};
    EXPECT_TRUE(win::CallGuardedAgainstAccessViolation(&ReadInsideAnotherGuard, &probe));
    EXPECT_EQ(probe.nestedResult, 0);
    EXPECT_EQ(probe.value, 99);

    win::Handle workers[2];
    HANDLE raw[2];
    for (int i = 0; i < 2; ++i) {
        workers[i].reset(CreateThread(nullptr, 0, &ReadBadPointersRepeatedly, nullptr, 0, nullptr));
        raw[i] = workers[i].get();
    }
    ASSERT_EQ(WaitForMultipleObjects(2, raw, TRUE, 120000), WAIT_OBJECT_0);
    for (const win::Handle& worker : workers) {
        DWORD code = 1;
        GetExitCodeThread(worker.get(), &code);
        EXPECT_EQ(code, 0u) << "a fault on a worker thread was not caught";
    }
}

}  // namespace
