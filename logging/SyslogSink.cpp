#include "LogSinks.h"

#include "LogConfig.h"
#include "LogEvent.h"

#include <cstdio>
#include <cwchar>

namespace LogUtils {

namespace {

constexpr size_t kDatagramBytes = 1024;
constexpr u_short kDefaultPort = 514;

// Winsock and one UDP socket for the process, closed at exit.
class SyslogSocket {
public:
    SyslogSocket()
    {
        WSADATA data;
        if (WSAStartup(0x202, &data) == 0) socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    }
    ~SyslogSocket()
    {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    SyslogSocket(const SyslogSocket&) = delete;
    SyslogSocket& operator=(const SyslogSocket&) = delete;
    SOCKET get() const { return socket_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

SOCKET TheSyslogSocket()
{
    static SyslogSocket socket;
    return socket.get();
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

bool SyslogDestination(const Lookupable<const wchar_t*, const wchar_t*>& section, sockaddr_in& destination)
{
    const wchar_t* server = section.Lookup(L"server");
    const wchar_t* port = section.Lookup(L"port");
    char address[64] = {};
    if (!server || !*server ||
        !WideCharToMultiByte(CP_THREAD_ACP, 0, server, -1, address, sizeof(address) - 1, nullptr, nullptr))
        return false;
    destination = {};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = inet_addr(address);
    u_short number = port ? static_cast<u_short>(wcstoul(port, nullptr, 10)) : 0;
    destination.sin_port = htons(number ? number : kDefaultPort);
    return destination.sin_addr.s_addr != INADDR_NONE;
}

bool SyslogSink::Write(const ILogSinkStreamer& streamer)
{
    SOCKET sock = TheSyslogSocket();
    if (sock == INVALID_SOCKET) return false;
    char host[16] = {};
    DWORD hostSize = sizeof(host);
    GetComputerNameA(host, &hostSize);

    char datagram[kDatagramBytes];
    const SYSTEMTIME& t = event_.localTime;
    const char* month = t.wMonth >= 1 && t.wMonth <= 12 ? kMonths[t.wMonth - 1] : "";
    int header = snprintf(datagram, sizeof(datagram), "<%1u> %s %2u %02u:%02u:%02u %15s ",
                          static_cast<unsigned>(event_.severity + 8), month, t.wDay, t.wHour, t.wMinute, t.wSecond, host);
    if (header <= 0) return false;
    if (static_cast<size_t>(header) >= sizeof(datagram)) header = sizeof(datagram) - 1;
    FixedBuffer_OStream body(datagram + header, datagram + sizeof(datagram));
    streamer.Stream(body);
    int length = static_cast<int>(body.cursor() - datagram);
    if (sendto(sock, datagram, length, 0, reinterpret_cast<const sockaddr*>(&destination_), sizeof(destination_)) ==
        SOCKET_ERROR) {
        DebugTrace(L"Syslog sendto failed [%d]!!!", WSAGetLastError());
        return false;
    }
    return true;
}

}  // namespace LogUtils
