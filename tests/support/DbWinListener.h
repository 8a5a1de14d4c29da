#pragma once
// A debugger-output listener as DebugView is one: the DBWIN_BUFFER mapping and
// its two events. Only one listener can exist per session at a time.

#include "Handle.h"

#include <string>
#include <vector>

namespace testing_support {

class DbWinListener {
public:
    // Starts listening; ok() tells whether the shared objects could be made.
    DbWinListener();
    ~DbWinListener();
    DbWinListener(const DbWinListener&) = delete;
    DbWinListener& operator=(const DbWinListener&) = delete;

    bool ok() const { return static_cast<bool>(thread_); }
    // The texts received so far from the given process (0: any process).
    std::vector<std::string> Messages(DWORD processId = 0);
    // Every text written before this call, in order, from any process. A
    // writer waits for the listener to take its previous text, so two texts of
    // our own written here return only after everything before them was taken.
    std::vector<std::string> Texts();
    // Waits (up to timeoutMs) until a message containing text has arrived.
    bool WaitFor(const std::string& text, DWORD timeoutMs = 5000);

private:
    static DWORD WINAPI Run(void* self);

    struct Message {
        DWORD processId;
        std::string text;
    };
    win::Handle bufferReady_;
    win::Handle dataReady_;
    win::Handle mapping_;
    win::MappedView view_;
    win::Handle stop_;
    win::Handle thread_;
    win::CriticalSection lock_;
    std::vector<Message> messages_;
};

}  // namespace testing_support
