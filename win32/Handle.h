#pragma once
// Owners for every kind of Windows handle the programs use. One template,
// one alias per close function. Closing never changes the thread's last-error
// value, because callers log GetLastError() after their cleanup.

#include <winsock2.h>
#include <windows.h>
#include <msi.h>
#include <objbase.h>
#include <ntsecapi.h>
#include <tlhelp32.h>
#include <winsvc.h>
#include <lzexpand.h>

#include <utility>

namespace win {

// Restores the thread's last-error value when it goes out of scope.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD error_;
};

template <typename Traits>
class UniqueHandle {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    pointer get() const noexcept { return h_; }
    // Closes what is held and hands out the slot for an API to fill.
    pointer* put() noexcept
    {
        reset();
        return &h_;
    }
    pointer release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(pointer h = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(h_, h);
        if (Traits::valid(old)) {
            LastErrorKeeper keep;
            Traits::close(old);
        }
    }
    explicit operator bool() const noexcept { return Traits::valid(h_); }

private:
    pointer h_ = Traits::invalid();
};

namespace traits {
template <typename T, auto Close>
struct NullIsEmpty {
    using pointer = T;
    static pointer invalid() noexcept { return nullptr; }
    static bool valid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { Close(h); }
};
// Kernel handles: both NULL and INVALID_HANDLE_VALUE mean "nothing held".
struct Kernel {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool valid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { CloseHandle(h); }
};
// Handles that fail as INVALID_HANDLE_VALUE and have their own close function.
template <auto Close>
struct InvalidIsEmpty {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { Close(h); }
};
inline void findClose(HANDLE h) { FindClose(h); }
inline void findCloseChangeNotification(HANDLE h) { FindCloseChangeNotification(h); }
// LZOpenFile handles are small non-negative numbers; failures are negative.
struct LzFile {
    using pointer = INT;
    static pointer invalid() noexcept { return -1; }
    static bool valid(pointer h) noexcept { return h >= 0; }
    static void close(pointer h) noexcept { LZClose(h); }
};
struct Msi {
    using pointer = MSIHANDLE;
    static pointer invalid() noexcept { return 0; }
    static bool valid(pointer h) noexcept { return h != 0; }
    static void close(pointer h) noexcept { MsiCloseHandle(h); }
};
inline void closeKey(HKEY k) { RegCloseKey(k); }
inline void closeService(SC_HANDLE h) { CloseServiceHandle(h); }
inline void freeModule(HMODULE h) { FreeLibrary(h); }
inline void localFree(HLOCAL h) { LocalFree(h); }
inline void globalFree(HGLOBAL h) { GlobalFree(h); }
inline void lsaClose(LSA_HANDLE h) { LsaClose(h); }
inline void unmapView(void* p) { UnmapViewOfFile(p); }
inline void freeSid(PSID p) { FreeSid(p); }
}  // namespace traits

using Handle = UniqueHandle<traits::Kernel>;          // files, processes, threads, events, mutexes, snapshots, mappings
using FindHandle = UniqueHandle<traits::InvalidIsEmpty<traits::findClose>>;
using Key = UniqueHandle<traits::NullIsEmpty<HKEY, traits::closeKey>>;
using ServiceHandle = UniqueHandle<traits::NullIsEmpty<SC_HANDLE, traits::closeService>>;
using ChangeNotification = UniqueHandle<traits::InvalidIsEmpty<traits::findCloseChangeNotification>>;
using LzFile = UniqueHandle<traits::LzFile>;
using MsiHandle = UniqueHandle<traits::Msi>;
using Module = UniqueHandle<traits::NullIsEmpty<HMODULE, traits::freeModule>>;
using LocalMemory = UniqueHandle<traits::NullIsEmpty<HLOCAL, traits::localFree>>;
using GlobalMemory = UniqueHandle<traits::NullIsEmpty<HGLOBAL, traits::globalFree>>;
using LsaHandle = UniqueHandle<traits::NullIsEmpty<LSA_HANDLE, traits::lsaClose>>;
using MappedView = UniqueHandle<traits::NullIsEmpty<void*, traits::unmapView>>;
using Sid = UniqueHandle<traits::NullIsEmpty<PSID, traits::freeSid>>;  // AllocateAndInitializeSid

// Both handles that CreateProcess returns.
struct ProcessInformation {
    Handle process;
    Handle thread;
    DWORD processId = 0;
    DWORD threadId = 0;

    void take(const PROCESS_INFORMATION& pi) noexcept
    {
        process.reset(pi.hProcess);
        thread.reset(pi.hThread);
        processId = pi.dwProcessId;
        threadId = pi.dwThreadId;
    }
};

// COM for the calling thread; uninitialises only if the initialisation worked.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept : hr_(CoInitializeEx(nullptr, model)) {}
    ~ComInit()
    {
        if (SUCCEEDED(hr_)) {
            LastErrorKeeper keep;
            CoUninitialize();
        }
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    HRESULT result() const noexcept { return hr_; }
    bool ok() const noexcept { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

// A critical section for the life of the object, and a scope that holds it.
class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter() noexcept { EnterCriticalSection(&cs_); }
    void leave() noexcept { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class Lock {
public:
    explicit Lock(CriticalSection& cs) noexcept : cs_(cs) { cs_.enter(); }
    ~Lock() { cs_.leave(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CriticalSection& cs_;
};

}  // namespace win
