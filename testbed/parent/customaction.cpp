// A custom-action library of the suite in miniature. An installer loads it
// from a temporary copy named MSIxxxx.TMP, and that copy is what Guardswitch
// finds among its parent's modules.
//
// Entry "StartGuardswitch" starts the command line in the property
// GUARDSWITCH, waits, writes the child's exit code in decimal to the file in
// GUARDSWITCH_RESULT, and ends the installation (1602) so that nothing is
// left installed.
#include "Handle.h"

#include <msiquery.h>

#include <string>

namespace {

std::wstring Property(MSIHANDLE install, const wchar_t* name)
{
    wchar_t value[1024] = {};
    DWORD size = 1024;
    return MsiGetPropertyW(install, name, value, &size) == ERROR_SUCCESS ? std::wstring(value, size) : std::wstring();
}

}  // namespace

extern "C" __declspec(dllexport) UINT WINAPI StartGuardswitch(MSIHANDLE install)
{
    std::wstring line = Property(install, L"GUARDSWITCH");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION raw{};
    std::string result = "not started";
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &raw)) {
        win::ProcessInformation started;
        started.take(raw);
        DWORD code = 0;
        WaitForSingleObject(started.process.get(), INFINITE);
        GetExitCodeProcess(started.process.get(), &code);
        result = std::to_string(code);
    }
    win::Handle file(CreateFileW(Property(install, L"GUARDSWITCH_RESULT").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), result.data(), static_cast<DWORD>(result.size()), &written, nullptr);
    return ERROR_INSTALL_USEREXIT;
}
