// Starts the rest of its command line as a child, waits, and exits with the
// child's full exit code written to stdout ("exit=<code>"), since Linux sees
// only its low 8 bits. Being a Windows program, it is the child's parent,
// which is what tests of the parent process need.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain()
{
    std::wstring line = GetCommandLineW();
    // Skip our own program name, quoted or not.
    size_t at = 0;
    if (!line.empty() && line[0] == L'"') at = line.find(L'"', 1) + 1;
    else at = line.find(L' ');
    if (at == std::wstring::npos || at >= line.size()) return 2;
    std::wstring child = line.substr(line.find_first_not_of(L' ', at));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &pi)) {
        std::printf("launch failed: %lu\n", GetLastError());
        return 3;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::printf("exit=%lu\n", code);
    std::fflush(stdout);
    return static_cast<int>(code);
}
