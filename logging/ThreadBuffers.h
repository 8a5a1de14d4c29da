#pragma once
// Storage that every event of a thread reuses, so that an event in steady
// state allocates nothing: the message buffers, the line a sink builds and the
// conversions of the formatter. Made on the thread's first event, freed when
// the thread ends.

#include <string>

namespace LogUtils {

constexpr int kMessageBufferUnits = 4096;  // the longest message and its terminator

struct ThreadBuffers {
    wchar_t message[kMessageBufferUnits];
    wchar_t english[kMessageBufferUnits];
    char narrow[kMessageBufferUnits];
    bool messagesInUse = false;  // an event of this thread holds the three above
    std::string line;            // the line a sink builds
    std::wstring wide;           // its UTF-16 form
    std::string converted;       // the formatter's UTF-8 or ANSI conversions
};

// The calling thread's buffers; null when they cannot be made (no memory).
ThreadBuffers* CurrentThreadBuffers() noexcept;

// Converts between UTF-16 and a code page into out, reusing its capacity;
// out is empty when the conversion fails.
void ConvertTo(std::string& out, const wchar_t* text, size_t length, unsigned codePage);
void ConvertFrom(std::wstring& out, const char* text, size_t length, unsigned codePage);

}  // namespace LogUtils
