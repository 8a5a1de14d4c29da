#include "RegistryLinks64.h"

#include "LogFile.h"
#include "Removal.h"
#include "reloUni.h"

namespace {

namespace removal = win::removal;

// One link in the 64-bit view and the lines its removal logs.
struct SuiteLink {
    const wchar_t* path;
    const wchar_t* openFailed;
    const wchar_t* removed;
    const wchar_t* removeFailed;
};

constexpr SuiteLink kSuiteLinks[] = {
    {L"SOFTWARE\\zelmar\\managedservices", L"Failed to Open 64-bit ManagedServices reg key. Error: %d",
     L"Successfully removed Symbolic link under ManagedServices key",
     L"Failed to Delete Symbolic Link under ManagedServices key. Error: %d"},
    {L"SOFTWARE\\zelmar\\qlcore", L"Failed to Open 64-bit QLCORE reg key. Error: %d",
     L"Successfully removed Symbolic link under QLCORE key", L"Failed to Delete Symbolic Link under QLCORE key. Error: %d"},
    {L"SOFTWARE\\zelmar\\ZuzadaZozi", L"Failed to Open 64-bit ZuzadaZozi reg key. Error: %d",
     L"Successfully removed Symbolic link under ZuzadaZozi key",
     L"Failed to Delete Symbolic Link under ZuzadaZozi key. Error: %d"},
    {L"SOFTWARE\\Wow6432Node\\zelmar\\ZuzadaZozi", L"Failed to Open 64-bit ZuzadaZozi reg key. Error: %d\r\n",
     L"Successfully removed Symbolic link under ZuzadaZozi key\r\n",
     L"Failed to Delete Symbolic Link under ZuzadaZozi key. Error: %d\r\n"},
};

// Opened as the link itself, so that a link is judged and not what it leads to.
LONG OpenAsLink(const wchar_t* path)
{
    HKEY raw = nullptr;
    const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &raw);
    win::Key key(raw);
    return rc;
}

void RemoveLink(const SuiteLink& link, CLogFile& log)
{
    const LONG rc = OpenAsLink(link.path);
    if (rc != ERROR_SUCCESS) {
        log.Log(link.openFailed, static_cast<int>(rc));
        return;
    }
    const removal::Record record = removal::RemoveKey(HKEY_LOCAL_MACHINE, link.path, win::RegView::Bit64);
    if (record.outcome == removal::Outcome::Removed)
        log.Log(L"%s", link.removed);
    else
        log.Log(link.removeFailed, static_cast<int>(record.error));
}

}  // namespace

void RemoveRegistryLinks64(reloUni& uni)
{
    CLogFile& log = uni.Log();
    // The removal layer deletes links with the native key deletion; without it nothing here can go.
    HMODULE ntdll = GetModuleHandleW(L"ntdll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "ZwDeleteKey") == nullptr) {
        log.Log(L"Failed to get ZwDeleteKey address in ntdll.dll. Error: %d", static_cast<int>(GetLastError()));
        return;
    }
    for (const SuiteLink& link : kSuiteLinks) RemoveLink(link, log);

    win::Key zelmar;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", KEY_ALL_ACCESS, win::RegView::Bit64, zelmar) !=
        ERROR_SUCCESS)
        return;
    zelmar.reset();
    const removal::Record record = removal::RemoveKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", win::RegView::Bit64);
    if (record.outcome != removal::Outcome::Removed)
        log.Log(L"Failed to Delete SOFTWARE\\Zelmar under 64-bit hive. Error: %d", static_cast<int>(record.error));
}
