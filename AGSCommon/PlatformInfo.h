#pragma once
// Facts about the machine and the installed suite.

#include <string>

// Path buffers of the platform queries, terminator included.
constexpr size_t kPathChars = 260;

// Reads the file's FileVersion string: first through the first language and
// code page of its translation table, else through "040904b0". version holds
// what was found (at most 259 characters, possibly empty); it is left untouched
// when no FileVersion could be read. True if the text is not empty.
bool GetFileVersionString(const std::wstring& file, std::wstring& version);

// The FileVersion of the agent's service program in the folder that
// "SOFTWARE\\Zelmar\\ManagedServices" names; "10.0.0" when the key, the
// value, the file or its version resource is missing.
std::wstring GetAgentVersion();
