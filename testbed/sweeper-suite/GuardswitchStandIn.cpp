// Stand-in for the suite's self-protection switch. Appends "<program> <arguments>"
// to Guardswitch.calls beside itself and exits with the number written in
// Guardswitch.exitcode beside itself (0 when there is none).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string ReadAll(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    char buffer[64] = {};
    DWORD got = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    const std::wstring folder = OwnFolder();
#ifdef _WIN64
    std::string line = "Guardswitch_x64.exe ";
#else
    std::string line = "Guardswitch_x86.exe ";
#endif
    for (const wchar_t* p = arguments; *p; ++p) line.push_back(static_cast<char>(*p));
    line += "\r\n";
    HANDLE calls = CreateFileW((folder + L"Guardswitch.calls").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, 0, nullptr);
    if (calls != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(calls, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(calls);
    }
    return static_cast<int>(std::strtoul(ReadAll(folder + L"Guardswitch.exitcode").c_str(), nullptr, 10));
}
