// The removal layer's deletions that cannot be redirected: a file deleted
// through a handle on itself whose final path is checked, and a deletion left
// for the restart only in folders that no ordinary user can change meanwhile.
#include "RemovalPaths.h"

#include <aclapi.h>
#include <sddl.h>

namespace win::removal {

namespace {

// SetFileInformationByHandle's classes and records (Windows Vista and later).
constexpr int kFileBasicInfo = 0;
constexpr int kFileDispositionInfo = 4;
struct BasicInfo {
    LARGE_INTEGER creation, lastAccess, lastWrite, change;  // 0: unchanged
    DWORD attributes;
};
struct DispositionInfo {
    BOOLEAN deleteFile;
};
constexpr DWORD kNormalizedDosName = 0;  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using SetInfoFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

// Looked up by name: Windows XP and Server 2003 lack both.
template <typename Fn>
Fn Kernel32Export(const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name));
}

AccessListWritten g_accessListWritten = nullptr;

// Rights that let an account change what a folder holds or who may.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                        WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Administrators, SYSTEM and the installer service may change the folder.
constexpr const wchar_t* kTrustedSids[] = {L"S-1-5-32-544", L"S-1-5-18",
                                           L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

bool IsTrusted(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return false;
    LocalMemory owner(text);
    for (const wchar_t* trusted : kTrustedSids)
        if (lstrcmpiW(text, trusted) == 0) return true;
    return false;
}

// Whether an account other than the trusted ones may change the folder's
// content; a folder whose list cannot be read counts as changeable.
bool OthersMayChange(const std::wstring& folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    LocalMemory owner(descriptor);
    if (dacl == nullptr) return true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if ((ace->Mask & kChangingRights) && !IsTrusted(&ace->SidStart)) return true;
    }
    return false;
}

// The folder's own list becomes Administrators and SYSTEM with full control,
// inherited by what is made in it later; what it holds keeps its own lists.
bool RestrictToAdministrators(const std::wstring& folder)
{
    Handle handle(CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return false;
    BYTE administrators[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) return false;
    size = sizeof(system);
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size)) return false;
    EXPLICIT_ACCESSW entries[2] = {};
    PSID sids[2] = {administrators, system};
    for (int i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = FILE_ALL_ACCESS;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
    }
    PACL acl = nullptr;
    if (SetEntriesInAclW(2, entries, nullptr, &acl) != ERROR_SUCCESS) return false;
    LocalMemory aclOwner(acl);
    // By handle: the list is set on this folder alone, never carried into what it holds.
    if (SetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, acl, nullptr) != ERROR_SUCCESS)
        return false;
    if (g_accessListWritten) {
        SECURITY_DESCRIPTOR descriptor;
        wchar_t* sddl = nullptr;
        if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
            ConvertSecurityDescriptorToStringSecurityDescriptorW(&descriptor, SDDL_REVISION_1,
                                                                 DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            LocalMemory text(sddl);
            g_accessListWritten(folder, sddl);
        }
    }
    return true;
}

bool IsProtectedOrAbove(const std::wstring& folder)
{
    for (const std::wstring& protectedFolder : ProtectedFolders())
        if (IsAtOrBelow(protectedFolder, folder)) return true;
    return false;
}

std::wstring WithoutNamespace(std::wstring path)
{
    if (path.rfind(L"\\\\?\\", 0) == 0 && path.rfind(L"\\\\?\\UNC\\", 0) != 0) path.erase(0, 4);
    return path;
}

// Whether the final path of a file is its canonical path. Under WOW64 the
// system folder of a 32-bit program is the 32-bit system folder, where the
// final path lies while redirection is on.
bool SamePlace(const std::wstring& final, const std::wstring& canonical)
{
    if (lstrcmpiW(final.c_str(), canonical.c_str()) == 0) return true;
    using Wow64FolderFn = UINT(WINAPI*)(LPWSTR, UINT);
    const auto wow64Folder = Kernel32Export<Wow64FolderFn>("GetSystemWow64DirectoryW");
    wchar_t system[MAX_PATH] = {}, wow64[MAX_PATH] = {};
    const UINT systemChars = GetSystemDirectoryW(system, MAX_PATH);
    if (!wow64Folder || systemChars == 0 || systemChars >= MAX_PATH || !IsAtOrBelow(canonical, system)) return false;
    const UINT wow64Chars = wow64Folder(wow64, MAX_PATH);
    if (wow64Chars == 0 || wow64Chars >= MAX_PATH) return false;
    return lstrcmpiW(final.c_str(), (wow64 + canonical.substr(systemChars)).c_str()) == 0;
}

// Whether a component of the path is now a link, or the path no longer
// names the same place.
bool LinkOnTheWay(const std::wstring& canonical)
{
    std::wstring again;
    bool linkMet = false;
    DWORD error = ERROR_SUCCESS;
    return !MakeCanonical(canonical, again, linkMet, error) || linkMet || lstrcmpiW(again.c_str(), canonical.c_str()) != 0;
}

}  // namespace

AccessListWritten SetAccessListObserver(AccessListWritten observer)
{
    const AccessListWritten previous = g_accessListWritten;
    g_accessListWritten = observer;
    return previous;
}

bool ProtectFoldersForRestart(const std::wstring& canonical)
{
    // Every folder on the way up to the nearest protected one; that one and
    // those above it no ordinary user may rename.
    for (std::wstring folder = canonical;;) {
        const size_t cut = folder.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut < 3) return true;
        folder.resize(cut);
        if (IsProtectedOrAbove(folder)) return true;
        if (OthersMayChange(folder) && !RestrictToAdministrators(folder)) return false;
    }
}

bool RegisterForRestart(const std::wstring& canonical)
{
    if (!ProtectFoldersForRestart(canonical)) return false;
    return MoveFileExW(canonical.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

DWORD DeleteThroughHandle(const std::wstring& canonical)
{
    const auto finalPath = Kernel32Export<FinalPathFn>("GetFinalPathNameByHandleW");
    const auto setInfo = Kernel32Export<SetInfoFn>("SetFileInformationByHandle");
    if (!finalPath || !setInfo) {
        if (LinkOnTheWay(canonical)) return kRefusedLink;
        SetFileAttributesW(canonical.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(canonical.c_str()) ? ERROR_SUCCESS : GetLastError();
    }
    Handle file(CreateFileW(canonical.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return GetLastError();
    // With the file held open, its path is walked again: a folder swapped for
    // a link before the open shows now. The final path shows it as well where
    // the system resolves links in it (Windows; Wine reports the path opened).
    if (LinkOnTheWay(canonical)) return kRefusedLink;
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD n = finalPath(file.get(), buffer, MAX_PATH * 4, kNormalizedDosName);
    if (n == 0 || n >= MAX_PATH * 4) return n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    // A folder on the way that became a link since the judgement leads elsewhere.
    if (!SamePlace(WithoutNamespace(buffer), canonical)) return kRefusedLink;
    BasicInfo basic{};
    basic.attributes = FILE_ATTRIBUTE_NORMAL;
    setInfo(file.get(), kFileBasicInfo, &basic, sizeof(basic));
    DispositionInfo disposition{TRUE};
    if (!setInfo(file.get(), kFileDispositionInfo, &disposition, sizeof(disposition))) return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace win::removal
