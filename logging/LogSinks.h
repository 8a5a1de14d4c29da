#pragma once
// Where a formatted event goes: a log file or the debugger output.

#include "Handle.h"
#include "LogProperties.h"
#include "LogFormatter.h"
#include "LogTypes.h"

#include <memory>
#include <optional>
#include <string>

namespace LogUtils {

class ICompiledLogProperties;

// What a sink receives: the event and the way to turn it into a line.
class ILogSinkStreamer {
public:
    virtual ~ILogSinkStreamer() = default;
    virtual void Stream(OStream<char>& out) const = 0;
    virtual Encoding GetEncoding() const = 0;
    virtual const LogEvent& GetEvent() const = 0;
};

// The formatted line of the streamer's event followed by lineEnd, in line
// (whose capacity is reused).
void BuildSinkLine(const ILogSinkStreamer& streamer, const char* lineEnd, std::string& line);

class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual bool Write(const ILogSinkStreamer& streamer) = 0;
};

// Security for created log files: LocalSystem and Everyone get full access.
class CLogSecurityAttributes {
public:
    CLogSecurityAttributes();
    CLogSecurityAttributes(const CLogSecurityAttributes&) = delete;
    CLogSecurityAttributes& operator=(const CLogSecurityAttributes&) = delete;
    // Null when it could not be built (files then get the default).
    SECURITY_ATTRIBUTES* get() { return ok_ ? &attributes_ : nullptr; }

private:
    win::Sid system_;
    win::Sid everyone_;
    std::unique_ptr<BYTE[]> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ok_ = false;
};

// The synchronous file sinks' attributes, built on first use.
SECURITY_ATTRIBUTES* ProcessLogSecurityAttributes();

// One writer of log files at a time in this process, synchronous or the
// asynchronous writer's batch: two appending to the same file would otherwise
// lock each other out through the share mode.
win::CriticalSection& FileWriteLock();

// Opens (or creates) a log file for appending: up to three attempts, 12 ms
// apart after a sharing violation, creating the folder after a missing path.
win::Handle OpenLogFile(const std::wstring& path, SECURITY_ATTRIBUTES* security);

// Appends a line (UTF-8 or ANSI bytes; UTF-16 in the file for UNICODE) at the
// end of an open log file: the byte-order mark first on an empty file, the
// truncation after it when the file outgrows limit.
void AppendLine(HANDLE file, Encoding encoding, const std::string& line, DWORD limit, unsigned truncatePercent);

// Cuts the oldest part of an open log file of newSize bytes so that it ends up
// below limit, on a line boundary (a character boundary for UTF-16), keeping
// its byte-order mark.
void TruncateLogFile(HANDLE file, unsigned truncatePercent, DWORD limit, DWORD newSize);

constexpr DWORD kNoSizeLimit = 0xFFFFFFFF;

// What the sink of a File section needs, compiled when the configuration is
// loaded: the path with "%DEFLOGDIR%" replaced, the limit, the percentage and
// how the handle is kept.
struct FileTarget {
    std::wstring path;
    DWORD limit;                // kNoSizeLimit for none
    unsigned truncatePercent;
    bool extremeLogging;        // "extremeLogging" is "1": a kept handle is used
    bool affinity;              // and "affinity" names this program: the handle is kept
};

// The target of a File section, or nothing without "filename" or "logdir".
std::optional<FileTarget> CompileFileTarget(const Lookupable<const wchar_t*, const wchar_t*>& section,
                                            const Lookupable<const wchar_t*, const wchar_t*>& globals);

class LogFileSink : public ILogSink {
public:
    LogFileSink(const FileTarget& target, Encoding encoding, ICompiledLogProperties& section)
        : target_(target), encoding_(encoding), section_(section) {}

    // The sink of a File section, or nothing when the section has no target.
    static std::optional<LogFileSink> FromSection(ICompiledLogProperties& section);

    // Writes the line at once, or queues it for an asynchronous event. Always
    // true; failures go to DebugTrace.
    bool Write(const ILogSinkStreamer& streamer) override;

private:
    const FileTarget& target_;
    Encoding encoding_;
    ICompiledLogProperties& section_;
};

// The destination of a Syslog section: "server" as a dotted IPv4 address and
// "port" (514 when absent or 0). False when there is no usable address.
bool SyslogDestination(const Lookupable<const wchar_t*, const wchar_t*>& section, sockaddr_in& destination);

// One UDP datagram per event: "<priority> Mmm dd hh:mm:ss host " and the
// line, at most 1024 bytes, to the section's server.
class SyslogSink : public ILogSink {
public:
    SyslogSink(const sockaddr_in& destination, const LogEvent& event) : destination_(destination), event_(event) {}
    // False when nothing was sent.
    bool Write(const ILogSinkStreamer& streamer) override;

private:
    sockaddr_in destination_;
    const LogEvent& event_;
};

class DebugStringSink : public ILogSink {
public:
    explicit DebugStringSink(Encoding encoding) : encoding_(encoding) {}
    bool Write(const ILogSinkStreamer& streamer) override;

private:
    Encoding encoding_;
};

}  // namespace LogUtils
