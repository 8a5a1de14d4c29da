#pragma once
// The common library's string: an owned wide text, or none. Assignable from
// wide text and from narrow text in the thread's ANSI code page. When its
// buffer cannot be allocated it logs at Error "MemAllocPtr failed with %d
// error" under "AGSCommon" and holds none.

#include <windows.h>

#include <cstddef>

class CMyString {
public:
    CMyString() = default;
    CMyString(const wchar_t* text) { Assign(text); }
    CMyString(const char* text) { Assign(text); }
    CMyString(const CMyString& other) { Assign(other.text_); }
    CMyString(CMyString&& other) noexcept;
    ~CMyString() { Free(); }

    CMyString& operator=(const CMyString& other);
    CMyString& operator=(CMyString&& other) noexcept;
    CMyString& operator=(const wchar_t* text) { Assign(text); return *this; }
    CMyString& operator=(const char* text) { Assign(text); return *this; }

    // A private copy of count units of text, terminated; none for a null text.
    // True unless the buffer could not be had.
    bool Assign(const wchar_t* text, size_t count);
    bool Assign(const wchar_t* text);
    // Narrow text converted with CP_THREAD_ACP.
    bool Assign(const char* text);

    // An empty, terminated buffer of chars units (terminator included) for a
    // platform call to fill; null, and the value none, when it cannot be had.
    wchar_t* Allocate(size_t chars);

    // Null when the value is none.
    const wchar_t* c_str() const { return text_; }
    bool IsNone() const { return text_ == nullptr; }
    // Units allocated, terminator included; 0 for none.
    size_t Capacity() const { return capacity_; }
    size_t Length() const;

private:
    void Free();

    wchar_t* text_ = nullptr;
    size_t capacity_ = 0;
};
