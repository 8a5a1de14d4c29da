#pragma once
// The start and load layer: the one way every program starts a program or
// loads a library at run time. Nothing is found by a search that the caller's
// folder, the current folder or PATH could win:
//
// - A program or library is named by a full local path ("X:\..."), free of
//   quotes, wildcards and control characters, an existing file with no link
//   (reparse point) on its path; where the caller names the folders it may lie
//   in, at or below one of them.
// - A bare system tool ("sc.exe", "msiexec.exe") is the file of that name in
//   the system folder.
// - A program starts as exactly the judged file (it is handed to the system as
//   the program, not left to the command line's parsing), in an explicit
//   working folder: the program's own unless the caller names another.
// - A library of the system is loaded by its full path in the system folder.

#include "Handle.h"

#include <string>
#include <vector>

namespace win::launch {

enum class Verdict {
    Allowed,
    Malformed,     // not a full local path, or quotes, wildcards, control characters
    Missing,       // no such file (or a folder)
    ThroughLink,   // an existing component is a link
    Outside,       // not in the folders the caller allows
    Unverifiable,  // a component could not be examined
};

struct Judgement {
    Verdict verdict = Verdict::Malformed;
    std::wstring path;  // canonical when it could be made, else the text given
    DWORD error = ERROR_SUCCESS;
    bool allowed() const { return verdict == Verdict::Allowed; }
};

// Judges a program or library. With folders, it must lie at or below one of
// them (each made canonical first).
Judgement Judge(const std::wstring& path, const std::vector<std::wstring>& folders = {});

// A short English reason for a log line ("a link on its path", ...).
const wchar_t* Reason(Verdict verdict);

// GetSystemDirectoryW: under WOW64 a 32-bit program reaches its 32-bit tools
// there. Empty when the query fails.
std::wstring SystemFolder();
// The named file in the system folder.
std::wstring SystemFile(const wchar_t* name);

// A command line taken apart the way Windows reads it, without ever taking a
// shorter prefix for the program: a quoted program ends at its closing quote;
// an unquoted one at the first blank after ".exe" (so "C:\Program Files\X\u.exe
// /S" never names "C:\Program.exe"), else at the first blank. A program named
// without any folder is the system folder's file (".exe" added when it has no
// extension).
struct CommandLine {
    std::wstring program;  // without quotes; bare names made full
    std::wstring written;  // the program as the line wrote it, quotes included
    std::wstring rest;     // everything after it, as written
    bool quoted = false;
};
// False for an empty line, an unclosed quote, or an unquoted program with a
// folder and a blank but no ".exe".
bool Split(const std::wstring& line, CommandLine& out);

// How a program is started.
struct StartOptions {
    DWORD flags = 0;                           // CreateProcessW's creation flags
    WORD show = SW_SHOWDEFAULT;                // STARTF_USESHOWWINDOW's state
    std::wstring workingFolder;                // empty: the program's own folder
    bool nativeSystemFolder = false;           // WOW64 redirection off around the start alone
};

// Starts the judged program with commandLine as its whole command line (the
// program's text first, as the child sees it). False with the Win32 code in
// GetLastError when the program was not judged allowed (ERROR_FILE_NOT_FOUND for
// a missing one, ERROR_ACCESS_DENIED otherwise) or did not start.
bool Start(const Judgement& program, const std::wstring& commandLine, const StartOptions& options,
           ProcessInformation& child);

// Loads a library of the system folder by its full path; null on failure.
HMODULE LoadSystemLibrary(const wchar_t* name);
// Loads the judged library by its full path; its own imports are looked up in
// its folder first. Null when it was not judged allowed or did not load.
HMODULE Load(const Judgement& library);

}  // namespace win::launch
