#include "TimeBudget.h"

#include <cwchar>

namespace win::timing {

namespace {

LONGLONG g_children = 0;  // counter ticks
LONGLONG g_waits = 0;

LONGLONG Ticks()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

DWORD Milliseconds(LONGLONG ticks)
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    return static_cast<DWORD>(ticks * 1000 / frequency);
}

// Adds the time of its own life to a total.
class Counted {
public:
    explicit Counted(LONGLONG& total) : total_(total), start_(Ticks()) {}
    ~Counted() { total_ += Ticks() - start_; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

private:
    LONGLONG& total_;
    LONGLONG start_;
};

}  // namespace

DWORD WaitForChild(HANDLE process, DWORD milliseconds)
{
    Counted counted(g_children);
    return WaitForSingleObject(process, milliseconds);
}

VOID WINAPI Pause(DWORD milliseconds)
{
    Counted counted(g_waits);
    Sleep(milliseconds);
}

DWORD WINAPI PauseEx(DWORD milliseconds, BOOL alertable)
{
    Counted counted(g_waits);
    return SleepEx(milliseconds, alertable);
}

DWORD WaitBounded(HANDLE object, DWORD milliseconds)
{
    Counted counted(g_waits);
    return WaitForSingleObject(object, milliseconds);
}

Clock::Clock() : start_(Ticks()), children_(g_children), waits_(g_waits) {}

Split Clock::Lap()
{
    const LONGLONG now = Ticks();
    Split split;
    split.total = Milliseconds(now - start_);
    split.children = Milliseconds(g_children - children_);
    split.waits = Milliseconds(g_waits - waits_);
    const DWORD waited = split.children + split.waits;
    split.own = split.total > waited ? split.total - waited : 0;
    start_ = now;
    children_ = g_children;
    waits_ = g_waits;
    return split;
}

std::wstring Describe(const wchar_t* step, const Split& split)
{
    wchar_t text[512];
    _snwprintf(text, 511, L"%ls took %lu ms (waiting for children %lu ms, fixed waits %lu ms, own work %lu ms)", step,
               split.total, split.children, split.waits, split.own);
    text[511] = L'\0';
    return text;
}

}  // namespace win::timing
