#pragma once
// Registry helpers. The view is always an explicit argument and is carried
// into every open made from it.

#include "Handle.h"

#include <string>

namespace win {

enum class RegView : REGSAM {
    Native = 0,                // what the process sees by default (32-bit view for our 32-bit programs)
    Bit64 = KEY_WOW64_64KEY,
    Bit32 = KEY_WOW64_32KEY,
};

constexpr REGSAM operator|(REGSAM access, RegView view) { return access | static_cast<REGSAM>(view); }

// Opens root\path with access in the given view. Returns the Win32 code; out is
// left empty on failure.
LONG OpenKey(HKEY root, const std::wstring& path, REGSAM access, RegView view, Key& out);

// Creates (or opens) root\path with access in the given view.
LONG CreateKey(HKEY root, const std::wstring& path, REGSAM access, RegView view, Key& out);

// Reads a REG_SZ or REG_EXPAND_SZ value as stored (no expansion), of any length,
// up to its first NUL (a last half unit of an odd byte count is dropped).
// Returns ERROR_SUCCESS, the registry's error, or ERROR_INVALID_DATATYPE for
// another type. out is untouched on failure; type, when given, receives the type.
LONG ReadString(HKEY key, const wchar_t* name, std::wstring& out, DWORD* type = nullptr);

// The same into a fixed buffer of `units` units, always terminated inside it.
// A text that does not fit (units - 1 units at most) is not cut: the result is
// ERROR_MORE_DATA and the buffer is emptied. Other failures leave the buffer as it was.
LONG ReadStringInto(HKEY key, const wchar_t* name, wchar_t* buffer, size_t units, DWORD* type = nullptr);

// Reads a REG_DWORD value. out is untouched on failure.
LONG ReadDword(HKEY key, const wchar_t* name, DWORD& out);

LONG WriteString(HKEY key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
LONG WriteDword(HKEY key, const wchar_t* name, DWORD value);

// Deletes root\path and everything below it in the given view, through the
// removal layer (registry links are deleted themselves, never followed).
// Missing is ERROR_FILE_NOT_FOUND.
LONG DeleteTree(HKEY root, const std::wstring& path, RegView view);

}  // namespace win
