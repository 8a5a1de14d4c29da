#include "reloUni.h"

#include "Handle.h"
#include "ProcessFlags.h"

#include <shellapi.h>

#include <cwctype>
#include <string>

namespace {

std::wstring LowerTrimmed(const wchar_t* argument)
{
    std::wstring text = argument;
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    size_t first = text.find_first_not_of(L" \t\r\n\v\f");
    if (first == std::wstring::npos) return {};
    size_t last = text.find_last_not_of(L" \t\r\n\v\f");
    return text.substr(first, last - first + 1);
}

}  // namespace

reloUni::reloUni() { log_.Open(); }

bool reloUni::logdataClobber() { return logdataClobber(GetCommandLineW()); }

bool reloUni::logdataClobber(const wchar_t* commandLine)
{
    if (commandLine == nullptr || commandLine[0] == L'\0') return true;
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(commandLine, &count);
    win::LocalMemory arguments(reinterpret_cast<HLOCAL>(raw));
    if (raw == nullptr || count <= 0) return true;

    for (int i = 1; i < count; ++i) {
        if (raw[i][0] == L'\0') continue;
        std::wstring argument = LowerTrimmed(raw[i]);
        size_t marker = argument.find_first_of(L"/-");
        if (marker == std::wstring::npos) continue;
        std::wstring rest = argument.substr(marker + 1);
        if (rest.find(L'a') != std::wstring::npos) {
            completeCleanup_ = 1;
            log_.Log(L"reloUni::logdataClobber - Complete cleanup, Product Data logs will be deleted");
            return true;
        }
        if (rest.find(L'f') != std::wstring::npos) {
            g_ForceReboot = 1;
            continue;
        }
        if (rest.find_first_of(L"h?") != std::wstring::npos) {
            log_.Log(L"Usage: \r\n\tUprooter.exe [-f][-a][-h][-?]");
            log_.Log(L"\t[-f] - Force reboot (no Prompt)");
            log_.Log(L"\t[-a] - delete logs also.");
            log_.Log(L"\t[-h]|[-?] - Usage help output to log. \r\n");
            return false;
        }
    }
    return true;
}
