#pragma once
// Where a run's time goes: waiting for child programs, the fixed waits and
// polls of the removal steps, and the program's own work (the rest). The
// waits add themselves to process-wide totals; a step's clock reads the
// totals at its start and end. The programs wait on one thread.

#include <windows.h>

#include <string>

namespace win::timing {

// WaitForSingleObject on a child program, counted as waiting for children.
DWORD WaitForChild(HANDLE process, DWORD milliseconds);
// Sleep and SleepEx, counted as fixed waits.
VOID WINAPI Pause(DWORD milliseconds);
DWORD WINAPI PauseEx(DWORD milliseconds, BOOL alertable);
// WaitForSingleObject bounded by a fixed allowance (another program asked to
// end), counted as a fixed wait.
DWORD WaitBounded(HANDLE object, DWORD milliseconds);

// Milliseconds of one stretch of a run.
struct Split {
    DWORD total = 0;
    DWORD children = 0;
    DWORD waits = 0;
    DWORD own = 0;
};

// Measures stretches of a run, one after the other.
class Clock {
public:
    Clock();
    // The stretch since the clock started or since the last lap; starts the next.
    Split Lap();

private:
    LONGLONG start_, children_, waits_;
};

// "<step> took <n> ms (waiting for children <n> ms, fixed waits <n> ms, own work <n> ms)"
std::wstring Describe(const wchar_t* step, const Split& split);

}  // namespace win::timing
