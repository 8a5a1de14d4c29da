#pragma once
// WOW64 file-system redirection, switched off for the life of a scope.

#include "Handle.h"

namespace win {

// Turns redirection off if the process runs under WOW64 and turns it back on
// at scope end, only if turning it off worked. Does nothing elsewhere.
class FsRedirectionOff {
public:
    FsRedirectionOff() noexcept;
    ~FsRedirectionOff();
    FsRedirectionOff(const FsRedirectionOff&) = delete;
    FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;
    bool active() const noexcept { return disabled_; }

private:
    void* old_ = nullptr;
    bool disabled_ = false;
};

}  // namespace win
