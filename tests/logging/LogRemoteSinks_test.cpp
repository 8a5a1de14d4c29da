#include "DbWinListener.h"
#include "LogTestSupport.h"
#include "TraceProvider.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace LogUtils;
using namespace testing_support;

namespace {

// A UDP receiver on 127.0.0.1, on the given port or one the system picks.
class Receiver {
public:
    explicit Receiver(u_short port = 0)
    {
        WSADATA data;
        WSAStartup(0x202, &data);
        socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        address.sin_port = htons(port);
        bound_ = socket_ != INVALID_SOCKET && bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        int length = sizeof(address);
        if (bound_ && getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        DWORD timeout = 5000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    }
    ~Receiver()
    {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        WSACleanup();
    }
    bool bound() const { return bound_; }
    u_short port() const { return port_; }
    // The next datagram, or "<nothing>" after 5 seconds.
    std::string Next()
    {
        char buffer[4096];
        int got = recv(socket_, buffer, sizeof(buffer), 0);
        return got < 0 ? "<nothing>" : std::string(buffer, static_cast<size_t>(got));
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool bound_ = false;
    u_short port_ = 0;
};

std::string SyslogSection(const std::string& name, const std::string& keys)
{
    return "[" + name + "]\r\nenabled=1\r\ntype=Syslog\r\nfilter=*.*.Error|Info\r\nformat=%l %m\r\nencoding=UTF-8\r\n" +
           keys;
}

std::string HostColumn()
{
    char host[16] = {};
    DWORD size = sizeof(host);
    GetComputerNameA(host, &size);
    char column[32];
    snprintf(column, sizeof(column), "%15s", host);
    return column;
}

TEST(SyslogSink, DatagramsAreLaidOutByteForByteAndCutAt1024Bytes)
{
    Receiver receiver;
    ASSERT_TRUE(receiver.bound());
    logtest::ManagerBench bench(L"syslog");
    bench.WriteConfig(SyslogSection("syslog", "server=127.0.0.1\r\nport=" + std::to_string(receiver.port()) + "\r\n") +
                      "[trace]\r\nenabled=1\r\ntype=ETW\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=UTF-8\r\n"
                      "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=\r\nfilename=f.log\r\n");
    LogEvent first = bench.Event(Error);
    first.localTime = SYSTEMTIME{2026, 12, 1, 7, 13, 5, 9, 42};
    first(L"AGSCommon", L"disk %s", L"full");
    EXPECT_EQ(receiver.Next(), "<11> Dec  7 13:05:09 " + HostColumn() + " Error disk full");
    LogEvent second = bench.Event(Info);
    second.localTime = SYSTEMTIME{2027, 3, 1, 21, 0, 0, 5, 0};
    second(L"AGSCommon", L"\u00e9t\u00e9");
    EXPECT_EQ(receiver.Next(), "<14> Mar 21 00:00:05 " + HostColumn() + " Info \xC3\xA9t\xC3\xA9");

    const std::wstring longText(2000, L'z');
    LogEvent third = bench.Event(Error);
    third.localTime = SYSTEMTIME{2026, 1, 1, 2, 3, 4, 5, 0};
    third(L"AGSCommon", L"%s", longText.c_str());
    const std::string header = "<11> Jan  2 03:04:05 " + HostColumn() + " ";
    const std::string datagram = receiver.Next();
    EXPECT_EQ(datagram.size(), 1024u);
    EXPECT_EQ(datagram, (header + "Error " + std::string(2000, 'z')).substr(0, 1024));
    // The trace section beside it sends nowhere here and disturbs nothing.
    EXPECT_EQ(bench.ReadLog(L"f.log"), "disk full\r\n" + std::string(2000, 'z') + "\r\n");
}

TEST(SyslogSink, WithoutAPortTheDatagramGoesToPort514)
{
    Receiver receiver(514);
    if (!receiver.bound()) GTEST_SKIP() << "UDP port 514 on 127.0.0.1 is not free here";
    logtest::ManagerBench bench(L"syslog-514");
    bench.WriteConfig(SyslogSection("syslog", "server=127.0.0.1\r\n"));
    bench.Event(Error)(L"AGSCommon", L"default port");
    const std::string datagram = receiver.Next();
    EXPECT_EQ(datagram.substr(0, 4), "<11>");
    EXPECT_EQ(datagram.substr(datagram.size() - 18), "Error default port");
}

// A section without a usable server sends nothing and says so once, when it is loaded.
TEST(SyslogSink, ASectionWithoutAServerIsReportedAndSendsNothing)
{
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    logtest::ManagerBench bench(L"syslog-noserver");
    bench.WriteConfig(SyslogSection("noserver", "port=514\r\n") + SyslogSection("badserver", "server=localhost\r\n") +
                      "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Error\r\nformat=%m\r\nencoding=\r\nfilename=f.log\r\n");
    bench.Event(Error)(L"AGSCommon", L"one");
    EXPECT_TRUE(logtest::Heard(listener, "Section [noserver] of "));
    EXPECT_TRUE(logtest::Heard(listener, "Section [badserver] of "));
    int reports = 0;
    for (const std::string& m : listener.Messages(GetCurrentProcessId()))
        reports += m.find("names no IPv4 server: it sends nothing\n") != std::string::npos;
    EXPECT_EQ(reports, 2) << "one report per section and load, none per event";
    EXPECT_EQ(bench.ReadLog(L"f.log"), "one\r\n");
}

// What the fake trace functions were asked.
struct TraceCalls {
    std::vector<TRACEHANDLE> classicSessions;
    std::vector<std::string> classicBuffers;  // header and payload as sent
    std::vector<std::string> manifestPayloads;
    std::vector<EVENT_DESCRIPTOR> descriptors;
    UCHAR sessionLevel = 4;
    ULONG eventWriteResult = 0;
    bool registered = false;
} g_trace;

ULONG WINAPI FakeEventRegister(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE handle)
{
    g_trace.registered = true;
    *handle = 0x77;
    return 0;
}
ULONG WINAPI FakeEventUnregister(REGHANDLE) { return 0; }
ULONG WINAPI FakeEventWrite(REGHANDLE handle, PCEVENT_DESCRIPTOR descriptor, ULONG count, PEVENT_DATA_DESCRIPTOR data)
{
    EXPECT_EQ(handle, 0x77u);
    EXPECT_EQ(count, 1u);
    g_trace.descriptors.push_back(*descriptor);
    g_trace.manifestPayloads.emplace_back(reinterpret_cast<const char*>(static_cast<uintptr_t>(data->Ptr)), data->Size);
    return g_trace.eventWriteResult;
}
// A controller's buffer here holds the session handle it stands for.
TRACEHANDLE WINAPI FakeGetTraceLoggerHandle(PVOID buffer)
{
    TRACEHANDLE session = *static_cast<TRACEHANDLE*>(buffer);
    if (session == ~0ull) SetLastError(ERROR_ACCESS_DENIED);
    return session;
}
UCHAR WINAPI FakeGetTraceEnableLevel(TRACEHANDLE) { return g_trace.sessionLevel; }
ULONG WINAPI FakeTraceEvent(TRACEHANDLE session, PEVENT_TRACE_HEADER header)
{
    g_trace.classicSessions.push_back(session);
    g_trace.classicBuffers.emplace_back(reinterpret_cast<const char*>(header), header->Size);
    return 0;
}

const TraceApi kFakeApi{&FakeEventRegister,       &FakeEventUnregister,     &FakeEventWrite,
                        &FakeGetTraceLoggerHandle, &FakeGetTraceEnableLevel, &FakeTraceEvent};

// A line as the formatter would give it, for an event of one severity.
class FixedStreamer : public ILogSinkStreamer {
public:
    FixedStreamer(int severity, std::string text)
        : event_(__FILE__, __LINE__, ModeSynchronous, severity, logtest::kModule, nullptr, false), text_(std::move(text)) {}
    void Stream(OStream<char>& out) const override { out.WriteString(text_.c_str()); }
    Encoding GetEncoding() const override { return EncodingUtf8; }
    const LogEvent& GetEvent() const override { return event_; }

private:
    LogEvent event_;
    std::string text_;
};

std::string Utf16WithZero(const std::string& ascii)
{
    std::string out;
    for (char c : ascii + '\0') {
        out += c;
        out += '\0';
    }
    return out;
}

ULONG Control(TraceProvider& provider, WMIDPREQUESTCODE request, TRACEHANDLE session)
{
    ULONG size = sizeof(session);
    return TraceProvider::ControlCallback(request, &provider, &size, &session);
}

TEST(EtwSink, TheClassicControllerDecidesWhichSessionGetsWhichEvents)
{
    g_trace = {};
    TraceProvider provider(kSuiteTraceGuids, kFakeApi);
    EtwSink sink(provider);
    EXPECT_TRUE(sink.Write(FixedStreamer(Error, "before any session")));
    EXPECT_TRUE(g_trace.classicBuffers.empty());

    EXPECT_EQ(Control(provider, WMI_GET_ALL_DATA, 0x1234), static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    TRACEHANDLE session = 0x1234;
    ULONG size = sizeof(session);
    EXPECT_EQ(TraceProvider::ControlCallback(WMI_ENABLE_EVENTS, nullptr, &size, &session),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Control(provider, WMI_ENABLE_EVENTS, 0), static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Control(provider, WMI_ENABLE_EVENTS, ~0ull), static_cast<ULONG>(ERROR_ACCESS_DENIED));

    g_trace.sessionLevel = Warning;
    EXPECT_EQ(Control(provider, WMI_ENABLE_EVENTS, 0x1234), 0u);
    EXPECT_EQ(Control(provider, WMI_ENABLE_EVENTS, 0x5678), static_cast<ULONG>(ERROR_BUSY));
    EXPECT_TRUE(sink.Write(FixedStreamer(Error, "disk full")));
    EXPECT_TRUE(sink.Write(FixedStreamer(Info, "above the session's level")));
    ASSERT_EQ(g_trace.classicBuffers.size(), 1u);
    EXPECT_EQ(g_trace.classicSessions[0], 0x1234u);
    const std::string& sent = g_trace.classicBuffers[0];
    const std::string payload = Utf16WithZero("disk full\n");
    ASSERT_EQ(sent.size(), 48 + payload.size());
    EVENT_TRACE_HEADER header;
    memcpy(&header, sent.data(), sizeof(header));
    EXPECT_EQ(header.Size, 48 + payload.size());
    EXPECT_EQ(header.Class.Type, 10);
    EXPECT_EQ(header.Class.Level, Error);
    EXPECT_EQ(header.Class.Version, 0);
    EXPECT_EQ(header.Flags, 0xA0000u);
    EXPECT_TRUE(IsEqualGUID(*reinterpret_cast<const GUID*>(static_cast<uintptr_t>(header.GuidPtr)),
                            kSuiteTraceGuids.traceClass));
    EXPECT_EQ(sent.substr(48), payload);

    // A long line leaves the stack buffer and arrives whole.
    const std::string longLine(1500, 'q');
    EXPECT_TRUE(sink.Write(FixedStreamer(Error, longLine)));
    ASSERT_EQ(g_trace.classicBuffers.size(), 2u);
    EXPECT_EQ(g_trace.classicBuffers[1].substr(48), Utf16WithZero(longLine + "\n"));

    EXPECT_EQ(Control(provider, WMI_DISABLE_EVENTS, 0x5678), static_cast<ULONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(Control(provider, WMI_DISABLE_EVENTS, 0x1234), 0u);
    EXPECT_TRUE(sink.Write(FixedStreamer(Error, "after the session went")));
    EXPECT_EQ(g_trace.classicBuffers.size(), 2u);

    // Level 0 from the controller means every level.
    g_trace.sessionLevel = 0;
    EXPECT_EQ(Control(provider, WMI_ENABLE_EVENTS, 0x5678), 0u);
    EXPECT_TRUE(sink.Write(FixedStreamer(Debug, "debug")));
    ASSERT_EQ(g_trace.classicBuffers.size(), 3u);
    EXPECT_EQ(g_trace.classicSessions[2], 0x5678u);
}

TEST(EtwSink, TheManifestListenerGetsEventsUpToItsLevel)
{
    g_trace = {};
    TraceProvider provider(kSuiteTraceGuids, kFakeApi);
    EtwSink sink(provider);
    if (!g_trace.registered) GTEST_SKIP() << "the classic registration failed, so no manifest registration is made";
    TraceProvider::EnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, Notice, 0, 0, nullptr, &provider);
    EXPECT_TRUE(sink.Write(FixedStreamer(Info, "above the level")));
    EXPECT_TRUE(sink.Write(FixedStreamer(Notice, "notice")));
    ASSERT_EQ(g_trace.manifestPayloads.size(), 1u);
    EXPECT_EQ(g_trace.manifestPayloads[0], Utf16WithZero("notice\n"));
    const EVENT_DESCRIPTOR& d = g_trace.descriptors[0];
    EXPECT_EQ(d.Id, 10);
    EXPECT_EQ(d.Version + d.Channel + d.Level + d.Opcode + d.Task + d.Keyword, 0u);
    EXPECT_TRUE(g_trace.classicBuffers.empty()) << "no classic session listens";

    g_trace.eventWriteResult = ERROR_MORE_DATA;
    EXPECT_FALSE(sink.Write(FixedStreamer(Error, "refused")));
    g_trace.eventWriteResult = 0;
    // A capture-state request changes nothing; a disable opens every level.
    TraceProvider::EnableCallback(nullptr, EVENT_CONTROL_CODE_CAPTURE_STATE, 0, 0, 0, nullptr, &provider);
    EXPECT_TRUE(sink.Write(FixedStreamer(Debug, "still above the level")));
    EXPECT_EQ(g_trace.manifestPayloads.size(), 2u);
    TraceProvider::EnableCallback(nullptr, EVENT_CONTROL_CODE_DISABLE_PROVIDER, 0, 0, 0, nullptr, &provider);
    EXPECT_TRUE(sink.Write(FixedStreamer(Debug, "debug")));
    EXPECT_EQ(g_trace.manifestPayloads.size(), 3u);

    // Without EventWrite (a system before Vista) the manifest channel fails.
    TraceApi noWrite = kFakeApi;
    noWrite.eventWrite = nullptr;
    TraceProvider older(kSuiteTraceGuids, noWrite);
    TraceProvider::EnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, Debug, 0, 0, nullptr, &older);
    EXPECT_FALSE(EtwSink(older).Write(FixedStreamer(Error, "no EventWrite")));
    // Without EventRegister there is no manifest channel at all.
    TraceApi noRegister = kFakeApi;
    noRegister.eventRegister = nullptr;
    TraceProvider oldest(kSuiteTraceGuids, noRegister);
    TraceProvider::EnableCallback(nullptr, EVENT_CONTROL_CODE_ENABLE_PROVIDER, Debug, 0, 0, nullptr, &oldest);
    EXPECT_TRUE(EtwSink(oldest).Write(FixedStreamer(Error, "nowhere")));
    EXPECT_EQ(g_trace.manifestPayloads.size(), 3u);
}

}  // namespace
