#pragma once
// The suite's trust-validation library, "zlmtrust.dll", loaded at run time.
// GetTrustInterface hands out the interface named "TrustValidationControl".
// The library keeps itself loaded while an interface it gave out lives, so the
// caller may free its own library handle at once.

#include <windows.h>

// What the library concluded about one file or module.
struct ZlTrustRecord {
    DWORD trustFlags;      // kTrustVerified: the signature chain was verified
    DWORD publisherFlags;  // kTrustPublisherZelmar: signed by the suite's maker
};

constexpr DWORD kTrustVerified = 0x2;
constexpr DWORD kTrustPublisherZelmar = 0x1;

// Option of both validations: check the signature of every file involved.
constexpr DWORD kTrustCheckSignature = 1;

struct IZlTrustResult {
    virtual const ZlTrustRecord* WINAPI Record() = 0;
    virtual void WINAPI Release() = 0;
};

// One record per module of a validated process.
struct IZlTrustResultList {
    virtual ULONG WINAPI Count() = 0;
    virtual const ZlTrustRecord* WINAPI Item(ULONG index) = 0;
    virtual void WINAPI Release() = 0;
};

struct ITrustValidationControl {
    // Statuses are the library's own; 0 means the result was filled.
    virtual DWORD WINAPI ValidateFile(const wchar_t* path, DWORD options, IZlTrustResult** result) = 0;
    virtual DWORD WINAPI ValidateProcess(DWORD processId, DWORD options, IZlTrustResultList** modules) = 0;
    virtual void WINAPI Release() = 0;
};

constexpr const wchar_t* kTrustInterfaceName = L"TrustValidationControl";

// Export "GetTrustInterface": fills *control for the named interface; returns
// 0 or a status.
typedef DWORD(WINAPI* GetTrustInterfaceFn)(const wchar_t* interfaceName, void** control);
