#pragma once
// Folder paths kept in the registry. Installers write them as REG_SZ or as
// REG_EXPAND_SZ ("%ProgramFiles%\\..."); an expandable one names no file until
// it is expanded, so every folder read goes through here.

#include "Registry.h"

#include <string>

// Reads the REG_SZ or REG_EXPAND_SZ value name of root\path (KEY_READ in the
// given view) and expands an expandable one. A value that does not fit a buffer of maxChars wide
// characters, before or after expansion, counts as unreadable, as it would for
// a fixed buffer. Returns ERROR_SUCCESS or the reason; out is untouched on failure.
LONG ReadFolderValue(HKEY root, const wchar_t* path, const wchar_t* name, size_t maxChars, win::RegView view,
                     std::wstring& out);

// The same for a key that is already open.
LONG ReadFolderValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out);

// Reads a text value (REG_SZ, or REG_EXPAND_SZ as stored) of at most maxChars
// wide characters, terminator included.
LONG ReadBoundedString(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out);
