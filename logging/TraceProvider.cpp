#include "TraceProvider.h"

#include "LogEvent.h"
#include "ThreadBuffers.h"

#include <cstring>
#include <memory>
#include <new>

namespace LogUtils {

const TraceGuids kSuiteTraceGuids = {
    {0xFED8CB65, 0xE653, 0x4836, {0x95, 0xF9, 0xD7, 0x1C, 0x1C, 0x9C, 0x0A, 0x5D}},
    {0xCB99EE78, 0xC5CC, 0x463D, {0xB8, 0x9D, 0x24, 0x5E, 0x33, 0x86, 0x10, 0xC2}},
    {0x40510B03, 0x6EC1, 0x483B, {0xA0, 0x36, 0x15, 0xCF, 0xDE, 0xC8, 0x8B, 0xE5}},
};

namespace {
constexpr UCHAR kEventType = 10;
constexpr USHORT kEventId = 10;
constexpr ULONG kStackBuffer = 1024;

template <typename F>
F Lookup(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
}  // namespace

TraceApi TraceApi::Platform()
{
    HMODULE advapi = GetModuleHandleA("ADVAPI32.dll");
    return {Lookup<decltype(eventRegister)>(advapi, "EventRegister"),
            Lookup<decltype(eventUnregister)>(advapi, "EventUnregister"),
            Lookup<decltype(eventWrite)>(advapi, "EventWrite"),
            &GetTraceLoggerHandle,
            &GetTraceEnableLevel,
            &TraceEvent};
}

TraceProvider& TheTraceProvider()
{
    static TraceProvider provider(kSuiteTraceGuids, TraceApi::Platform());
    return provider;
}

TraceProvider::TraceProvider(const TraceGuids& guids, const TraceApi& api) : api_(api), traceClass_(guids.traceClass)
{
    TRACE_GUID_REGISTRATION classes[1] = {{&traceClass_, nullptr}};
    if (RegisterTraceGuidsW(&TraceProvider::ControlCallback, this, &guids.control, 1, classes, nullptr, nullptr,
                            &registration_) != ERROR_SUCCESS) {
        registration_ = 0;
        return;
    }
    if (!api_.eventRegister || api_.eventRegister(&guids.provider, &TraceProvider::EnableCallback, this, &manifest_) !=
                                   ERROR_SUCCESS)
        manifest_ = 0;
}

TraceProvider::~TraceProvider()
{
    if (registration_) UnregisterTraceGuids(registration_);
    if (manifest_ && api_.eventUnregister) api_.eventUnregister(manifest_);
}

ULONG WINAPI TraceProvider::ControlCallback(WMIDPREQUESTCODE request, PVOID context, ULONG*, PVOID buffer)
{
    if (request != WMI_ENABLE_EVENTS && request != WMI_DISABLE_EVENTS) return ERROR_INVALID_PARAMETER;
    auto* provider = static_cast<TraceProvider*>(context);
    if (!provider) return ERROR_INVALID_PARAMETER;
    TRACEHANDLE session = provider->api_.getTraceLoggerHandle(buffer);
    // INVALID_HANDLE_VALUE, widened with or without its sign by the compiler that built the caller.
    if (session == ~0ull || session == 0xFFFFFFFFull) return GetLastError();
    if (session == 0) return ERROR_INVALID_PARAMETER;
    if (request == WMI_DISABLE_EVENTS) {
        if (session != provider->session_) return ERROR_INVALID_HANDLE;
        provider->level_ = 0xFF;
        provider->session_ = 0;
        return ERROR_SUCCESS;
    }
    if (provider->session_ != 0 && provider->session_ != session) return ERROR_BUSY;
    SetLastError(ERROR_SUCCESS);
    UCHAR level = provider->api_.getTraceEnableLevel(session);
    if (level == 0 && GetLastError() != ERROR_SUCCESS) return GetLastError();
    provider->session_ = session;
    provider->level_ = level == 0 ? 0xFF : level;
    return ERROR_SUCCESS;
}

VOID NTAPI TraceProvider::EnableCallback(LPCGUID, ULONG isEnabled, UCHAR level, ULONGLONG, ULONGLONG,
                                         PEVENT_FILTER_DESCRIPTOR, PVOID context)
{
    auto* provider = static_cast<TraceProvider*>(context);
    if (!provider) return;
    if (isEnabled == EVENT_CONTROL_CODE_ENABLE_PROVIDER) provider->manifestLevel_ = level;
    else if (isEnabled == EVENT_CONTROL_CODE_DISABLE_PROVIDER) provider->manifestLevel_ = 0xFF;
}

ULONG TraceProvider::Send(int severity, const wchar_t* text, size_t length)
{
    const ULONG bytes = static_cast<ULONG>((length + 1) * sizeof(wchar_t));
    ULONG result = 0;
    if (ClassicUsable(severity)) result = SendClassic(severity, text, bytes);
    if (ManifestUsable(severity)) {
        ULONG manifest = SendManifest(text, bytes);
        if (manifest != 0) result = manifest;
    }
    return result;
}

// One buffer: the header, then the text.
ULONG TraceProvider::SendClassic(int severity, const void* payload, ULONG bytes)
{
    const ULONG size = sizeof(EVENT_TRACE_HEADER) + bytes;
    alignas(EVENT_TRACE_HEADER) BYTE stack[kStackBuffer];
    std::unique_ptr<BYTE[]> heap;
    BYTE* buffer = stack;
    if (size > kStackBuffer) {
        heap.reset(new (std::nothrow) BYTE[size]);
        if (!heap) return ERROR_NOT_ENOUGH_MEMORY;
        buffer = heap.get();
    }
    auto* header = reinterpret_cast<EVENT_TRACE_HEADER*>(buffer);
    memset(header, 0, sizeof(*header));
    header->Size = static_cast<USHORT>(size);
    header->Class.Type = kEventType;
    header->Class.Level = static_cast<UCHAR>(severity);
    header->Class.Version = 0;
    header->GuidPtr = reinterpret_cast<ULONGLONG>(&traceClass_);
    header->Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_GUID_PTR;
    memcpy(buffer + sizeof(EVENT_TRACE_HEADER), payload, bytes);
    return api_.traceEvent(session_, header);
}

ULONG TraceProvider::SendManifest(const void* payload, ULONG bytes)
{
    if (!api_.eventWrite) return ERROR_NOT_SUPPORTED;
    EVENT_DESCRIPTOR descriptor{};
    descriptor.Id = kEventId;
    EVENT_DATA_DESCRIPTOR data{};
    EventDataDescCreate(&data, payload, bytes);
    return api_.eventWrite(manifest_, &descriptor, 1, &data);
}

bool EtwSink::Write(const ILogSinkStreamer& streamer)
{
    const int severity = streamer.GetEvent().severity;
    if (!provider_.Usable(severity)) return true;
    ThreadBuffers* buffers = CurrentThreadBuffers();
    std::string ownLine;
    std::wstring ownText;
    std::string& line = buffers ? buffers->line : ownLine;
    std::wstring& text = buffers ? buffers->wide : ownText;
    BuildSinkLine(streamer, "\n", line);
    ConvertFrom(text, line.data(), line.size(), CP_UTF8);
    return provider_.Send(severity, text.c_str(), text.size()) == 0;
}

}  // namespace LogUtils
