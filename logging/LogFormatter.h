#pragma once
// Turns one event into the bytes of one log line, following a section's
// "format" value with its %-tokens.

#include "LogTypes.h"

#include <string>

namespace LogUtils {

class LogEvent;

template <typename T>
class OStream {
public:
    virtual ~OStream() = default;
    void WriteRange(const T* begin, const T* end) { WriteBytes(begin, static_cast<size_t>(end - begin)); }
    void WriteString(const T* text) { WriteRange(text, text + std::char_traits<T>::length(text)); }
    virtual void WriteBytes(const T* data, size_t count) = 0;
};

// Appends to a string owned by the caller, never past a zero byte of the data.
class ATLString_OStream : public OStream<char> {
public:
    explicit ATLString_OStream(std::string& target) : target_(target) {}
    void WriteBytes(const char* data, size_t count) override;

private:
    std::string& target_;
};

// Writes into a fixed buffer of the caller; what does not fit is dropped.
class FixedBuffer_OStream : public OStream<char> {
public:
    FixedBuffer_OStream(char* begin, char* end) : cursor_(begin), end_(end) {}
    void WriteBytes(const char* data, size_t count) override;
    // Where the next byte would go.
    char* cursor() const { return cursor_; }

private:
    char* cursor_;
    char* end_;
};

class ILogFormatter {
public:
    virtual ~ILogFormatter() = default;
    virtual bool Format(OStream<char>& out, const wchar_t* format, const LogEvent& event, Encoding encoding,
                        bool overrideLocalization) const = 0;
};

// Stateless; one object serves the process. Text outside tokens is written as
// the low 8 bits of each character, so formats are ASCII.
class LogFormatter : public ILogFormatter {
public:
    bool Format(OStream<char>& out, const wchar_t* format, const LogEvent& event, Encoding encoding,
                bool overrideLocalization) const override;
};

}  // namespace LogUtils
