// GoogleTest's own customisation point (it includes this file first). The
// tests build with the same win32-thread compilers as the product, whose
// standard library has no std::mutex or std::condition_variable; GoogleTest's
// locks are Win32 critical sections already, and only its start signal for
// the threads it creates needs those, so it gets a Win32 event instead.
#ifndef ZL_GTEST_CUSTOM_PORT_H
#define ZL_GTEST_CUSTOM_PORT_H

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace testing::internal

#endif
