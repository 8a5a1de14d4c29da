// A parent for Guardswitch, copied under the name of the caller a test plays
// ("Sweeper.exe", "msiexec.exe", ...). It starts the child the way Sweeper
// does: DLL folder set first, no folder on the command line, detached and
// hidden. It waits and exits with the child's full exit code.
//   parent.exe [/dlldir <folder>] [/load <module>] <child command line>
// /load keeps a module loaded while the child runs, as an installer keeps a
// custom-action library.
#include "Handle.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    int at = 1;
    for (; at + 1 < argc; at += 2) {
        std::wstring option = argv[at];
        if (option == L"/dlldir") {
            if (!SetDllDirectoryW(argv[at + 1])) return 0xE0000001;
        } else if (option == L"/load") {
            if (!LoadLibraryW(argv[at + 1])) {
                std::printf("load failed: %lu\n", GetLastError());
                return 0xE0000002;
            }
        } else {
            break;
        }
    }
    std::wstring child;
    for (; at < argc; ++at) child += (child.empty() ? L"" : L" ") + std::wstring(argv[at]);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION raw{};
    if (!CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &raw)) {
        std::printf("launch failed: %lu\n", GetLastError());
        return 0xE0000003;
    }
    win::ProcessInformation started;
    started.take(raw);
    DWORD code = 0;
    if (WaitForSingleObject(started.process.get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(started.process.get(), &code))
        return 0xE0000004;
    return static_cast<int>(code);
}
