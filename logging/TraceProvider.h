#pragma once
// Event Tracing for Windows: the process-wide trace provider, with a classic
// registration for trace sessions and a manifest registration where the
// system has one, and the sink that writes an event through it.

#include "LogSinks.h"

#include <windows.h>
#include <evntprov.h>
#include <evntrace.h>

namespace LogUtils {

// The suite's three GUIDs (docs/configuration.md).
struct TraceGuids {
    GUID control;     // classic control GUID
    GUID traceClass;  // classic trace-class GUID of every event
    GUID provider;    // given to EventRegister
};
extern const TraceGuids kSuiteTraceGuids;

// The platform calls the provider makes besides its classic registration.
// The Event* functions are looked up by name (Windows XP has none of them),
// so any may be null. Tests pass their own to act as a controller and to read
// what would be sent.
struct TraceApi {
    ULONG(WINAPI* eventRegister)(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE);
    ULONG(WINAPI* eventUnregister)(REGHANDLE);
    ULONG(WINAPI* eventWrite)(REGHANDLE, PCEVENT_DESCRIPTOR, ULONG, PEVENT_DATA_DESCRIPTOR);
    TRACEHANDLE(WINAPI* getTraceLoggerHandle)(PVOID);
    UCHAR(WINAPI* getTraceEnableLevel)(TRACEHANDLE);
    ULONG(WINAPI* traceEvent)(TRACEHANDLE, PEVENT_TRACE_HEADER);

    // The system's functions, the Event* ones from the loaded ADVAPI32.dll.
    static TraceApi Platform();
};

class TraceProvider {
public:
    // Registers with the classic control GUID and, if that worked and
    // EventRegister exists, with the provider GUID.
    TraceProvider(const TraceGuids& guids, const TraceApi& api);
    // Unregisters what was registered.
    ~TraceProvider();
    TraceProvider(const TraceProvider&) = delete;
    TraceProvider& operator=(const TraceProvider&) = delete;

    // What a trace controller calls: enable (4) or disable (5) from a session.
    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE request, PVOID context, ULONG* size, PVOID buffer);
    // What the system calls for the manifest registration.
    static VOID NTAPI EnableCallback(LPCGUID source, ULONG isEnabled, UCHAR level, ULONGLONG anyKeyword,
                                     ULONGLONG allKeyword, PEVENT_FILTER_DESCRIPTOR filter, PVOID context);

    // Whether a session or a manifest listener takes events of this severity.
    bool Usable(int severity) const { return ClassicUsable(severity) || ManifestUsable(severity); }
    // Sends a line (UTF-16, with its terminating zero) on every channel that
    // takes the severity; returns the last non-zero result, or 0.
    ULONG Send(int severity, const wchar_t* text, size_t length);

private:
    bool ClassicUsable(int severity) const { return session_ != 0 && level_ >= severity; }
    bool ManifestUsable(int severity) const { return manifest_ != 0 && manifestLevel_ >= severity; }
    ULONG SendClassic(int severity, const void* payload, ULONG bytes);
    ULONG SendManifest(const void* payload, ULONG bytes);

    TraceApi api_;
    GUID traceClass_;
    TRACEHANDLE registration_ = 0;
    TRACEHANDLE session_ = 0;
    UCHAR level_ = 0;
    REGHANDLE manifest_ = 0;
    UCHAR manifestLevel_ = 0;
};

// The process-wide provider, registered on first use, unregistered at exit.
TraceProvider& TheTraceProvider();

class EtwSink : public ILogSink {
public:
    explicit EtwSink(TraceProvider& provider) : provider_(provider) {}
    // True when nothing was to be sent or every trace call succeeded.
    bool Write(const ILogSinkStreamer& streamer) override;

private:
    TraceProvider& provider_;
};

}  // namespace LogUtils
