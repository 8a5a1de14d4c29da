#pragma once
// The services the agent service step asked to stop, in order.
#include <string>
#include <vector>

extern std::vector<std::wstring> g_stopServiceCalls;
