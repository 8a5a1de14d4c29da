#pragma once
// Stopping one service within a bounded wait, before a component's own
// uninstaller runs.

#include <windows.h>

// The wait: this many status queries, each after a pause of this length.
constexpr int kServiceStopQueries = 100;
constexpr DWORD kServiceStopPollMs = 500;

// Asks the service to stop and waits while it is stop-pending, for at most
// the bounded wait. Takes ownership of manager and closes it on every path,
// also when the service cannot be opened. True only if the service reached
// the stopped state; a service that is not running, or one still
// stop-pending at the end, gives false and is left as it is.
bool StopService(SC_HANDLE manager, const wchar_t* name);

// The pause between two status queries: SleepEx unless replaced. Tests put a
// recording one in place to see the bound without waiting it out; returns
// the one it replaces.
using ServicePollPause = DWORD(WINAPI*)(DWORD milliseconds, BOOL alertable);
ServicePollPause SetServicePollPause(ServicePollPause pause);
