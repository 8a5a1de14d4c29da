#pragma once
// Listens to the debugger output of every process in the session, as a
// debug-output viewer does (the DBWIN buffer and its two events), for as long
// as it lives. One listener at a time per machine: tests that use it are serial.

#include "Handle.h"

#include <string>
#include <vector>

namespace testing_support {

class DebugOutputListener {
public:
    DebugOutputListener();
    ~DebugOutputListener();
    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    bool listening() const { return static_cast<bool>(thread_); }
    // Every text written before this call, in order. A writer waits for the
    // listener to take its previous text, so a text of our own written here
    // returns only after everything before it was taken.
    std::vector<std::string> Texts();

private:
    static DWORD WINAPI Listen(void* self);

    win::Handle bufferReady_, dataReady_, stop_, mapping_, thread_;
    win::MappedView view_;
    CRITICAL_SECTION lock_;
    std::vector<std::string> texts_;
};

}  // namespace testing_support
