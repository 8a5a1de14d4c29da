#include "RegistryLinks64.h"

#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"
#include "reloUni.h"

namespace {

namespace removal = win::removal;

constexpr REGSAM kLinkAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
constexpr wchar_t kCoreTarget[] = L"SOFTWARE\\Wow6432Node\\zelmar\\ZuzadaZozi";
constexpr wchar_t kSuiteTarget[] = L"SOFTWARE\\Wow6432Node\\zelmar";
constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\Zelmar";

// What a failed deletion's line carries: nothing (0), or the deletion's code.
enum class FailureCode { Zero, Deletion };

struct RegistryLink {
    const wchar_t* path;
    const wchar_t* openFailed;
    const wchar_t* removed;
    const wchar_t* deleteFailed;
    FailureCode code;
};

// In the order they go; the core key's target is made sure of between the two
// groups, so that it is there to be opened.
constexpr RegistryLink kSuiteLinks[] = {
    {L"SOFTWARE\\zelmar\\managedservices", L"Failed to Open 64-bit ManagedServices reg key. Error: %d",
     L"Successfully removed Symbolic link under ManagedServices key",
     L"Failed to Delete Symbolic Link under ManagedServices key. Error: %d", FailureCode::Zero},
    {L"SOFTWARE\\zelmar\\qlcore", L"Failed to Open 64-bit QLCORE reg key. Error: %d",
     L"Successfully removed Symbolic link under QLCORE key",
     L"Failed to Delete Symbolic Link under QLCORE key. Error: %d", FailureCode::Deletion},
};
constexpr RegistryLink kCoreLinks[] = {
    {L"SOFTWARE\\zelmar\\ZuzadaZozi", L"Failed to Open 64-bit ZuzadaZozi reg key. Error: %d",
     L"Successfully removed Symbolic link under ZuzadaZozi key",
     L"Failed to Delete Symbolic Link under ZuzadaZozi key. Error: %d", FailureCode::Deletion},
    {kCoreTarget, L"Failed to Open 64-bit ZuzadaZozi reg key. Error: %d\r\n",
     L"Successfully removed Symbolic link under ZuzadaZozi key\r\n",
     L"Failed to Delete Symbolic Link under ZuzadaZozi key. Error: %d\r\n", FailureCode::Zero},
};

bool KeyExists(const wchar_t* path)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, win::RegView::Bit64, key) == ERROR_SUCCESS;
}

void EnsureKey(const wchar_t* path)
{
    win::Key key;
    win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Bit64, key);
}

// Opens the key itself, a link not followed, then deletes it: a link goes, its
// target stays.
void RemoveLink(const RegistryLink& link, CLogFile& log)
{
    HKEY raw = nullptr;
    const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, link.path, REG_OPTION_OPEN_LINK, kLinkAccess, &raw);
    if (rc != ERROR_SUCCESS) {
        log.Log(link.openFailed, static_cast<int>(rc));
        return;
    }
    win::Key opened(raw);
    opened.reset();
    const removal::Record removed = removal::RemoveKey(HKEY_LOCAL_MACHINE, link.path, win::RegView::Bit64);
    if (removed.outcome == removal::Outcome::Removed)
        log.Log(link.removed);
    else
        log.Log(link.deleteFailed, link.code == FailureCode::Zero ? 0 : static_cast<int>(removed.error));
}

// The suite's 64-bit key, once its links are gone. Its 32-bit counterpart is
// made sure of first, so that a 64-bit key that is itself a link opens; a
// counterpart this step made (here or with the core key's target) goes again
// when it is empty.
void RemoveSuiteKey(CLogFile& log, bool targetExisted)
{
    EnsureKey(kSuiteTarget);
    if (KeyExists(kSuiteKey)) {
        const removal::Record removed = removal::RemoveKey(HKEY_LOCAL_MACHINE, kSuiteKey, win::RegView::Bit64);
        if (removed.outcome != removal::Outcome::Removed)
            log.Log(L"Failed to Delete SOFTWARE\\Zelmar under 64-bit hive. Error: %d", 0);
    }
    if (!targetExisted) removal::RemoveKey(HKEY_LOCAL_MACHINE, kSuiteTarget, win::RegView::Bit64);
}

}  // namespace

void RemoveRegistryLinks64(reloUni& uni)
{
    // Without a 64-bit view the "Wow6432Node" paths would be made as keys of their own.
    if (!IsWow64()) return;
    CLogFile& log = uni.Log();
    // Only the native deletion removes a link without entering its target.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "ZwDeleteKey") == nullptr) {
        log.Log(L"Failed to get ZwDeleteKey address in ntdll.dll. Error: %d", static_cast<int>(GetLastError()));
        return;
    }
    const bool suiteTargetExisted = KeyExists(kSuiteTarget);
    for (const RegistryLink& link : kSuiteLinks) RemoveLink(link, log);
    EnsureKey(kCoreTarget);
    for (const RegistryLink& link : kCoreLinks) RemoveLink(link, log);
    RemoveSuiteKey(log, suiteTargetExisted);
}
