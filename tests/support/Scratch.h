#pragma once
// Scratch state owned by one test: a unique folder or registry key, removed
// before and after use, plus small helpers to run children and read files.

#include "FileTree.h"
#include "Handle.h"
#include "Registry.h"

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the temporary folder, removed with everything in it at
// scope end. Removal never follows links out of the folder.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

private:
    std::wstring path_;
};

// A fresh key root\base\name in the given view, deleted at scope end.
class ScratchKey {
public:
    ScratchKey(HKEY root, const std::wstring& path, win::RegView view = win::RegView::Native);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    const std::wstring& path() const { return path_; }
    HKEY get() const { return key_.get(); }

private:
    HKEY root_;
    std::wstring path_;
    win::RegView view_;
    win::Key key_;
};


// Runs a command line, waits, and returns the child's full 32-bit exit code
// (0xFFFFFFFF with the error in GetLastError when it could not start).
DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& currentDir = L"", DWORD timeoutMs = 120000);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// The folder that holds the running test program.
std::wstring ProgramDir();

// Splits bytes into lines at "\r\n" (a last line without an end is kept).
std::vector<std::string> SplitLines(const std::string& text);

std::string Narrow(const std::wstring& text);

}  // namespace testing_support

namespace testing_support {

// A file of this architecture's build tree, e.g. L"uprooter\\Uprooter.exe".
std::wstring BuildPath(const std::wstring& relative);

// The machine's logging configuration ("logcfg.ini" in the common application
// data folder's "Zelmar\Endpoint Guard\Logcfg") for the life of a scope; the
// file and the folders made for it are removed again.
class MachineLogConfig {
public:
    explicit MachineLogConfig(const std::string& ini);
    ~MachineLogConfig();
    MachineLogConfig(const MachineLogConfig&) = delete;
    MachineLogConfig& operator=(const MachineLogConfig&) = delete;

private:
    std::wstring file_;
    std::vector<std::wstring> made_;  // folders made, outermost first
};

// Sets an environment variable for the life of a scope (children inherit it).
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
};

// Makes Wine report an older Windows (a Wine version name such as "winxp") to
// the named programs for the life of a scope, through the per-program
// HKCU\Software\Wine\AppDefaults\<program> "Version" value. It holds for
// every start of those programs in the prefix, so only SERIAL tests use it.
class WineWindowsVersion {
public:
    WineWindowsVersion(const std::vector<std::wstring>& programs, const wchar_t* version);
    ~WineWindowsVersion();
    WineWindowsVersion(const WineWindowsVersion&) = delete;
    WineWindowsVersion& operator=(const WineWindowsVersion&) = delete;

private:
    std::vector<std::wstring> keys_;  // the keys made, removed at scope end
};

}  // namespace testing_support
