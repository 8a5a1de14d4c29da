#pragma once
// The readers of the campaign, each with its seeds and its checks. Files are
// written into the scratch folder and read through the real file calls;
// registry values are written into a scratch key and read through the real
// registry calls.

#include "Campaign.h"

#include <windows.h>

#include <string>
#include <vector>

namespace fuzz {

// Both architectures: "logcfg.ini" read directly and through the log
// manager's reload, "strings.bin", the formatter's format strings and the
// message formats with their arguments, registry text and number values, and
// Guardswitch's command line.
std::vector<Reader> CommonReaders(const std::wstring& scratch, HKEY scratchKey);

// The 32-bit programs' readers: the INI profile model, Sweeper's plan, the
// agent's language files, the command lines of Uprooter and Sweeper, and the
// suite's registry values that become folders, versions and counts.
std::vector<Reader> ProgramReaders(const std::wstring& scratch, HKEY scratchKey);

// A registry value from an input: its first byte picks the type, the rest is
// the data. Writes it as "value" of key; the type written is returned.
DWORD WriteValueFromInput(HKEY key, const wchar_t* name, const Bytes& input);

// A seed file's bytes (empty when it cannot be read), and the folder of the
// campaign program, beside which its seed files lie.
Bytes ReadSeed(const std::wstring& path);
std::wstring ProgramFolder();

// Seeds of registry values: a type byte, then UTF-16 text with its terminator.
Bytes ValueSeed(DWORD type, const std::wstring& text);

}  // namespace fuzz
