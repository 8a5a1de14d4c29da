#pragma once
// Validation through the suite's trust library, "zlmtrust.dll". The library is
// loaded once per process on first use, from the install folder registered in
// HKLM or, when none is registered, by its bare name; when that fails, or the
// registered folder is unusable (ERROR_MOD_NOT_FOUND), every validation of the
// run answers the loading status.

#include "Handle.h"
#include "zlmtrust.h"

#include <memory>

class TrustValidation {
public:
    TrustValidation() = default;
    // Releases the interface and resets the state.
    ~TrustValidation();
    TrustValidation(const TrustValidation&) = delete;
    TrustValidation& operator=(const TrustValidation&) = delete;

    // 0 when the file is trusted; 5 when the library doubts it; otherwise the
    // library's (or the loading) status.
    DWORD ValidateFile(const wchar_t* path);
    // 0 when the process and every one of its (more than two) modules are
    // trusted; 5 for the System process (4), a short list or a doubted module;
    // otherwise the library's (or the loading) status.
    DWORD ValidateProcess(DWORD processId);

private:
    struct Releaser {
        template <typename T>
        void operator()(T* p) const { p->Release(); }
    };

    // Loads once per process; the status every validation of the run answers.
    DWORD Load();
    DWORD LoadControl();

    win::CriticalSection lock_;
    bool done_ = false;
    DWORD status_ = 0;
    std::unique_ptr<ITrustValidationControl, Releaser> control_;
};

// The process-wide validation state.
TrustValidation& ProcessTrust();
