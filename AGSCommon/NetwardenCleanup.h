#pragma once
// The Netwarden web-safety component's registry traces.

#include "Registry.h"

class CLogFile;

// Removes root\key with its tree in the given view, logging the attempt and a
// success to log. Returns the deletion's Win32 code: 0 when removed,
// ERROR_FILE_NOT_FOUND when it was not there; an absent or empty key is
// refused and deletes nothing.
LONG RemoveCoreKey(const wchar_t* key, CLogFile& log, HKEY root, win::RegView view);
