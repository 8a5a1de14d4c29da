#pragma once
// The snapshot's internals that the engine shares.

#include "SuiteStage.h"

#include <vector>

namespace stage {

inline constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The machine's "Path" and its type; empty when missing.
std::wstring MachinePath(DWORD* type);
void WriteMachinePath(const std::wstring& path, DWORD type);
// path without the entry ";folder" (folder empty: path as it is).
std::wstring WithoutPathEntry(std::wstring path, const std::wstring& folder);

// Whether the snapshot holds the entry (names compared without letter case).
bool Had(const Snapshot& before, const std::wstring& entry);
// The type and bytes of a value entry as the snapshot stored them.
bool StoredValue(const Snapshot& before, const std::wstring& entry, DWORD& type, std::vector<BYTE>& data);

}  // namespace stage
