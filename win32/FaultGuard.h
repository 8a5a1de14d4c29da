#pragma once
// Recovery from an access violation raised inside a call, for code that must
// survive a bad pointer handed to it (mingw-w64 has no __try/__except).

namespace win {

// Runs work(context) on the calling thread. Returns true when it completed and
// false when an access violation inside it was caught; the rest of the call is
// then abandoned without unwinding, so work must not own anything that needs a
// destructor or a release. Guards nest; other exceptions pass through untouched.
bool CallGuardedAgainstAccessViolation(void (*work)(void*), void* context) noexcept;

}  // namespace win
