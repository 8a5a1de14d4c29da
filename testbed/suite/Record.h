#pragma once
// What the suite's stand-in libraries share: verdicts chosen by the test
// through the environment, and a record of every call, one UTF-8 line each,
// appended to a file the test names.

#include <windows.h>

#include <cstdlib>
#include <string>

namespace standin {

inline std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

// The number in the variable, or fallback when it is not set.
inline DWORD EnvNumber(const wchar_t* name, DWORD fallback)
{
    std::wstring text = Env(name);
    return text.empty() ? fallback : std::wcstoul(text.c_str(), nullptr, 0);
}

// Appends line to the file named by the variable logVariable, if it is set.
inline void Record(const wchar_t* logVariable, const std::wstring& line)
{
    std::wstring path = Env(logVariable);
    if (path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::wstring text = line + L"\r\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace standin
