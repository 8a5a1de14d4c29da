#pragma once
// The older suite's main keys below HKEY_LOCAL_MACHINE, as every step names them.

constexpr wchar_t kManagedServicesKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kAgentKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent";
