// Registry links as Windows makes them: a key made with REG_OPTION_CREATE_LINK
// whose REG_LINK value "SymbolicLinkValue" names the target. Only a handle
// opened with REG_OPTION_OPEN_LINK reaches the link itself; the native
// deletion on that handle removes the link and leaves the target.
#include "RegistryLinks.h"

#include "Places.h"

namespace stage {

namespace {

constexpr REGSAM kLinkAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

std::wstring LinkName(const RegistryLinkItem& link)
{
    return RootName(HKEY_LOCAL_MACHINE, win::RegView::Bit64) + link.path;
}

bool OpenLink(const RegistryLinkItem& link, win::Key& key)
{
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, link.path.c_str(), REG_OPTION_OPEN_LINK, kLinkAccess, key.put()) ==
           ERROR_SUCCESS;
}

bool IsLink(HKEY key)
{
    DWORD type = 0;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

bool MakeLink(const RegistryLinkItem& link)
{
    win::Key key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, link.path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, kLinkAccess,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    // The link's value holds the target without a terminator.
    return RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(link.target.data()),
                          static_cast<DWORD>(link.target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

void LayRegistryLinks(const Footprint& suite, std::vector<std::wstring>& problems)
{
    for (const RegistryLinkItem& link : suite.registryLinks)
        if (!MakeLink(link)) problems.push_back(L"cannot make the registry link " + LinkName(link));
}

void AuditRegistryLinks(const Footprint& suite, Audit& audit)
{
    for (const RegistryLinkItem& link : suite.registryLinks) {
        win::Key key;
        if (OpenLink(link, key))
            audit.stillPresent.push_back(LinkName(link) + (IsLink(key.get()) ? L" (registry link)" : L" (a key)"));
    }
}

void UndoRegistryLinks(const Footprint& suite)
{
    using DeleteKeyFn = LONG(NTAPI*)(HANDLE);
    auto deleteKey = reinterpret_cast<DeleteKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey"));
    if (!deleteKey) return;
    for (const RegistryLinkItem& link : suite.registryLinks) {
        win::Key key;
        if (OpenLink(link, key)) deleteKey(key.get());
    }
}

bool BelowRegistryLink(const Footprint& suite, const std::wstring& entry)
{
    for (const RegistryLinkItem& link : suite.registryLinks)
        if (Names(entry, LinkName(link))) return true;
    return false;
}

}  // namespace stage
