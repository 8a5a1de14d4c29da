// The start and load layer: judging programs and libraries, splitting command
// lines, starting and loading by full path.
#include "Launch.h"

#include "RemovalPaths.h"
#include "Wow64.h"

namespace win::launch {

namespace {

bool IsExeAt(const std::wstring& text, size_t end)
{
    return end >= 4 && lstrcmpiW(text.substr(end - 4, 4).c_str(), L".exe") == 0;
}

// A bare name is the system folder's file; ".exe" is added when it has none.
std::wstring FullProgram(const std::wstring& written)
{
    if (written.find_first_of(L"\\/:") != std::wstring::npos) return written;
    const std::wstring name = written.find(L'.') == std::wstring::npos ? written + L".exe" : written;
    return SystemFile(name.c_str());
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return {};
    return path.substr(0, cut == 2 ? 3 : cut);  // "C:\x.exe": the drive's root
}

}  // namespace

Judgement Judge(const std::wstring& path, const std::vector<std::wstring>& folders)
{
    Judgement j;
    j.path = path;
    if (!removal::IsPlainDrivePath(path)) return j;
    bool linkMet = false;
    if (!removal::MakeCanonical(path, j.path, linkMet, j.error)) return j;
    if (linkMet) {
        j.verdict = Verdict::ThroughLink;
        return j;
    }
    if (j.error != ERROR_SUCCESS) {
        j.verdict = Verdict::Unverifiable;
        return j;
    }
    const DWORD attributes = GetFileAttributesW(j.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        j.verdict = Verdict::Missing;
        return j;
    }
    if (!folders.empty()) {
        bool inside = false;
        for (const std::wstring& folder : folders) {
            std::wstring canonical;
            bool folderLink = false;
            DWORD error = ERROR_SUCCESS;
            if (removal::IsPlainDrivePath(folder) && removal::MakeCanonical(folder, canonical, folderLink, error) &&
                canonical.size() > 3 && removal::IsAtOrBelow(j.path, canonical))
                inside = true;
        }
        if (!inside) {
            j.verdict = Verdict::Outside;
            return j;
        }
    }
    j.verdict = Verdict::Allowed;
    return j;
}

const wchar_t* Reason(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Allowed: return L"allowed";
    case Verdict::Malformed: return L"not a full local path";
    case Verdict::Missing: return L"no such file";
    case Verdict::ThroughLink: return L"a link on its path";
    case Verdict::Outside: return L"outside the folders it may lie in";
    case Verdict::Unverifiable: return L"its path could not be examined";
    }
    return L"";
}

std::wstring SystemFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(buffer, n);
}

std::wstring SystemFile(const wchar_t* name)
{
    const std::wstring folder = SystemFolder();
    return folder.empty() ? folder : folder + L"\\" + name;
}

bool Split(const std::wstring& line, CommandLine& out)
{
    out = CommandLine{};
    size_t start = line.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return false;
    size_t end = 0;
    if (line[start] == L'"') {
        end = line.find(L'"', start + 1);
        if (end == std::wstring::npos || end == start + 1) return false;
        out.program = line.substr(start + 1, end - start - 1);
        out.quoted = true;
        ++end;
    } else {
        end = std::wstring::npos;
        for (size_t blank = line.find_first_of(L" \t", start); blank != std::wstring::npos && end == std::wstring::npos;
             blank = line.find_first_of(L" \t", blank + 1))
            if (IsExeAt(line, blank)) end = blank;
        if (end == std::wstring::npos && !IsExeAt(line, line.size())) {
            // Without ".exe" only a bare tool name may be followed by arguments.
            end = line.find_first_of(L" \t", start);
            if (end != std::wstring::npos && line.substr(start, end - start).find_first_of(L"\\/:") != std::wstring::npos)
                return false;
        }
        if (end == std::wstring::npos) end = line.size();
        out.program = line.substr(start, end - start);
    }
    out.written = line.substr(start, end - start);
    out.rest = line.substr(end);
    out.program = FullProgram(out.program);
    return !out.program.empty();
}

bool Start(const Judgement& program, const std::wstring& commandLine, const StartOptions& options,
           ProcessInformation& child)
{
    if (!program.allowed()) {
        SetLastError(program.verdict == Verdict::Missing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = options.show;
    const std::wstring folder = options.workingFolder.empty() ? FolderOf(program.path) : options.workingFolder;
    // Process creation may write into the command line.
    std::wstring writable = commandLine;
    PROCESS_INFORMATION raw{};
    BOOL started = FALSE;
    if (options.nativeSystemFolder) {
        FsRedirectionOff redirection;
        started = CreateProcessW(program.path.c_str(), writable.data(), nullptr, nullptr, FALSE, options.flags,
                                 nullptr, folder.c_str(), &startup, &raw);
    } else {
        started = CreateProcessW(program.path.c_str(), writable.data(), nullptr, nullptr, FALSE, options.flags,
                                 nullptr, folder.c_str(), &startup, &raw);
    }
    if (!started) return false;
    child.take(raw);
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const std::wstring path = SystemFile(name);
    return path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE Load(const Judgement& library)
{
    if (!library.allowed()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return LoadLibraryExW(library.path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win::launch
