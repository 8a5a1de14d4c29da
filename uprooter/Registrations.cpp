#include "Registrations.h"

#include "Com.h"
#include "Deletion.h"
#include "LogFile.h"
#include "NetwardenCleanup.h"
#include "Paths.h"
#include "PlatformInfo.h"
#include "RegistrationNames.h"
#include "RegistryLinks64.h"
#include "Removal.h"
#include "ServerUnregistration.h"
#include "ServiceAccount.h"
#include "reloUni.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <utility>

namespace {

namespace removal = win::removal;
using win::RegView;

constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\Zelmar";
constexpr wchar_t kUserSuiteKey[] = L"Software\\Zelmar";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunServicesKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices";
constexpr wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services";
constexpr wchar_t kMenuKey[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Menu";
constexpr wchar_t kMakerGroup[] = L"Zelmar";
constexpr wchar_t kExclusionKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtual Machine\\VPCVAppExcludeList";
constexpr size_t kMenuValueChars = kPathChars;

const RegistrationNames& names = kRegistrationNames;

bool Opens(HKEY root, const std::wstring& path, REGSAM access, RegView view)
{
    win::Key key;
    return win::OpenKey(root, path, access, view, key) == ERROR_SUCCESS;
}

void RemoveTree(HKEY root, const std::wstring& path, RegView view = RegView::Native)
{
    removal::RemoveKeyTree(root, path, view);
}

// Keys below one parent; a parent that does not open skips them all.
template <size_t N>
void DeleteBelow(const std::wstring& parent, const wchar_t* const (&children)[N], RegView view = RegView::Native)
{
    if (!Opens(HKEY_LOCAL_MACHINE, parent, KEY_ALL_ACCESS, view)) return;
    for (const wchar_t* child : children) RemoveTree(HKEY_LOCAL_MACHINE, parent + L"\\" + child, view);
}

// A key without subkeys and values: what another product keeps in it stays.
void DeleteIfEmpty(const wchar_t* path)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, RegView::Native, key) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
        return;
    key.reset();
    removal::RemoveKey(HKEY_LOCAL_MACHINE, path, RegView::Native);
}

void RemoveNotificationData(CLogFile& log)
{
    if (Opens(HKEY_CURRENT_USER, kUserSuiteKey, KEY_ALL_ACCESS, RegView::Native)) {
        log.Log(L"uprooter.Exe, Deleting Current User local user notifications data...");
        for (const wchar_t* child : {L"ManagedServices\\Agent\\Notifications", L"ManagedServices\\DesktopUI",
                                     L"Rendering Engine"})
            RemoveTree(HKEY_CURRENT_USER, std::wstring(kUserSuiteKey) + L"\\" + child);
    }
    // No registry transaction is in use here, so the plain open stands for the transacted one.
    if (Opens(HKEY_LOCAL_MACHINE, kUserSuiteKey, KEY_ALL_ACCESS, RegView::Native)) {
        log.Log(L"uprooter.Exe, Deleting Local User local user notifications data...");
        for (const wchar_t* child : {L"ManagedServices", L"Installer", L"ZuzadaZozi"})
            RemoveTree(HKEY_LOCAL_MACHINE, std::wstring(kUserSuiteKey) + L"\\" + child);
    }
}

void RemoveComRegistrations()
{
    if (Opens(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", KEY_ALL_ACCESS, RegView::Native)) {
        for (const wchar_t* progId : names.progIds) {
            RemoveTree(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Classes\\") + progId);
            RemoveTree(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Classes\\") + progId + L".1");
        }
    }
    DeleteBelow(L"SOFTWARE\\Classes\\CLSID", names.classIds, RegView::Bit32);
    DeleteBelow(L"SOFTWARE\\Classes\\Typelib", names.typeLibraries);
    DeleteBelow(L"SOFTWARE\\Classes\\Interface", names.interfaces);
}

template <size_t N>
void DeleteValues(const wchar_t* path, const wchar_t* const (&values)[N])
{
    for (const wchar_t* value : values) removal::RemoveValue(HKEY_LOCAL_MACHINE, path, RegView::Native, value);
}

void RemoveLaunchValues(CLogFile& log, bool nt)
{
    if (Opens(HKEY_LOCAL_MACHINE, kRunKey, KEY_ALL_ACCESS, RegView::Native)) {
        log.Log(L"deleting the Tray application launch command to the run key.");
        DeleteValues(kRunKey, names.runValues);
    }
    if (!nt && Opens(HKEY_LOCAL_MACHINE, kRunServicesKey, KEY_ALL_ACCESS, RegView::Native)) {
        log.Log(L"(Windows 9x) Deleting the Service application launch command to the runservices key.");
        DeleteValues(kRunServicesKey, names.runServicesValues);
    }
}

void RemoveMainKey(reloUni& uni)
{
    uni.CloseMainKey();
    uni.Log().Log(L"Deleting key: %s", uni.MainKeyPath().c_str());
    RemoveTree(HKEY_LOCAL_MACHINE, uni.MainKeyPath());
}

void RemoveSuiteKeys()
{
    DeleteIfEmpty(kSuiteKey);
    RemoveTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Ostrand Labs\\KRX");
    DeleteIfEmpty(L"SOFTWARE\\Ostrand Labs");
    for (const wchar_t* key : names.suiteKeys) RemoveTree(HKEY_LOCAL_MACHINE, key);
    for (const wchar_t* handler :
         {L"Drive\\shellex\\ContextMenuHandlers\\ScanNow", L"Directory\\shellex\\ContextMenuHandlers\\ScanNow"})
        RemoveTree(HKEY_CLASSES_ROOT, handler);
    for (const wchar_t* handler : {L"SOFTWARE\\Classes\\Drive\\shellex\\ContextMenuHandlers\\ScanNow",
                                   L"SOFTWARE\\Classes\\Directory\\shellex\\ContextMenuHandlers\\ScanNow"})
        RemoveTree(HKEY_LOCAL_MACHINE, handler);
    RemoveTree(HKEY_LOCAL_MACHINE, names.firewallApiUninstallKey);
    DeleteIfEmpty(kSuiteKey);
}

// The on-access scanner's service key, when it is a remnant without a start
// type; the open creates it if it is missing, so it goes again at once.
void RemoveServiceKeyRemnant(CLogFile& log)
{
    const std::wstring service = std::wstring(kServicesKey) + L"\\" + names.onAccessService;
    win::Key key;
    if (win::CreateKey(HKEY_LOCAL_MACHINE, service, KEY_ALL_ACCESS, RegView::Native, key) != ERROR_SUCCESS) return;
    DWORD start = 0;
    const LONG read = win::ReadDword(key.get(), L"Start", start);
    if (read == ERROR_SUCCESS) return;
    if (read != ERROR_FILE_NOT_FOUND) {
        // A "Start" value there is, of another type or size: no remnant, so the key stays.
        log.Log(L"RemoveServiceKeyRemnant - HKEY_LOCAL_MACHINE\\%s has a \"Start\" value that is no REG_DWORD, "
                L"key left alone",
                service.c_str());
        return;
    }
    key.reset();
    if (!Opens(HKEY_LOCAL_MACHINE, kServicesKey, KEY_ALL_ACCESS, RegView::Native)) return;
    log.Log(L"Work around to remove ZlSentry service registry hive without start value");
    RemoveTree(HKEY_LOCAL_MACHINE, service);
}

// --- Program groups ----------------------------------------------------------------

bool SameText(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

bool HasParentStep(const std::wstring& subfolder)
{
    size_t start = 0;
    while (start <= subfolder.size()) {
        size_t end = subfolder.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = subfolder.size();
        if (subfolder.compare(start, end - start, L"..") == 0) return true;
        start = end + 1;
    }
    return false;
}

// The group folder for an entry, or empty when the entry would reach the
// Programs folder itself, anything above or beside it, or name a link path.
std::wstring GroupFolder(const std::wstring& programs, const std::wstring& subfolder, const std::wstring& link)
{
    if (!win::IsBareFileName(link) || HasParentStep(subfolder)) return {};
    std::wstring folder = removal::Judge(programs + subfolder).path;
    const std::wstring top = removal::Judge(programs).path + L"\\";
    if (folder.size() <= top.size() || !SameText(folder.substr(0, top.size()), top)) return {};
    return folder;
}

bool ProgramsFolder(IMalloc* allocator, std::wstring& folder)
{
    LPITEMIDLIST list = nullptr;
    const int csidl = winVersion().IsNT() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || list == nullptr) return false;
    wchar_t path[MAX_PATH] = {};
    const BOOL found = SHGetPathFromIDListW(list, path);
    allocator->Free(list);
    folder = path;
    return found != FALSE && !folder.empty();
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring GroupText(UINT identifier, const wchar_t* fallback)
{
    std::wstring text = identifier != 0 ? LoadLocalizedString(identifier) : std::wstring();
    return text.empty() ? fallback : text;
}

// The first folder of a group's path below the Programs folder.
std::wstring TopFolder(const std::wstring& subfolder)
{
    const size_t start = subfolder.find_first_not_of(L"\\/");
    if (start == std::wstring::npos) return {};
    const size_t end = subfolder.find_first_of(L"\\/", start);
    return subfolder.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

// A recorded entry is taken only inside a group the suite names, or in a
// group of the maker's ("Zelmar", "Zelmar <product>"): the values could name
// another product's group.
bool IsSuiteGroup(const std::wstring& subfolder)
{
    const std::wstring top = TopFolder(subfolder);
    if (top.empty()) return false;
    const std::wstring maker = kMakerGroup;
    if (SameText(top.substr(0, maker.size()), maker) && (top.size() == maker.size() || top[maker.size()] == L' '))
        return true;
    for (const ProgramGroup& group : names.programGroups)
        if (SameText(top, TopFolder(GroupText(group.folderId, group.folder)))) return true;
    return false;
}

// --- Windows Installer codes ---------------------------------------------------------

bool IsBracedGuid(const std::wstring& text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !std::iswxdigit(text[i])) return false;
    }
    return true;
}

}  // namespace

// The agent's recorded menu entry: the subfolder ("szMenuDir" followed by
// "szMenuSubDir") and the link, only when all three values are non-empty.
bool ReadMenuEntry(std::wstring& subfolder, std::wstring& link)
{
    win::Key menu;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kMenuKey, KEY_READ, RegView::Native, menu) != ERROR_SUCCESS) return false;
    wchar_t dir[kMenuValueChars] = {}, subDir[kMenuValueChars] = {}, linkName[kMenuValueChars] = {};
    win::ReadStringInto(menu.get(), L"szMenuDir", dir, kMenuValueChars);
    win::ReadStringInto(menu.get(), L"szMenuSubDir", subDir, kMenuValueChars);
    win::ReadStringInto(menu.get(), L"szMenuLink", linkName, kMenuValueChars);
    if (dir[0] == L'\0' || subDir[0] == L'\0' || linkName[0] == L'\0') return false;
    subfolder = std::wstring(dir) + subDir;
    link = linkName;
    return true;
}

std::wstring PackedCode(const wchar_t* braced)
{
    const std::wstring text = braced ? braced : L"";
    if (!IsBracedGuid(text)) return {};
    std::wstring hex;
    for (wchar_t c : text)
        if (std::iswxdigit(c)) hex += static_cast<wchar_t>(std::towupper(c));
    std::wstring packed;
    // The first three groups are reversed whole; each later byte has its digits swapped.
    for (auto [start, length] : {std::pair<size_t, size_t>{0, 8}, {8, 4}, {12, 4}}) {
        std::wstring group = hex.substr(start, length);
        std::reverse(group.begin(), group.end());
        packed += group;
    }
    for (size_t i = 16; i < 32; i += 2) {
        packed += hex[i + 1];
        packed += hex[i];
    }
    return packed;
}

void RemoveBrowserProtectionRegistrations(reloUni& uni)
{
    netwardenCleanup cleanup(uni.Log());
    cleanup.removeNW();
    for (const InstallerRecord& record : names.installerRecords) {
        const std::wstring code = record.packed ? PackedCode(record.code) : std::wstring(record.code);
        RemoveCoreKey((std::wstring(record.prefix) + code).c_str(), uni.Log(), record.root, record.view);
    }
}

void RemoveRegistrationLeftovers(reloUni& uni)
{
    CLogFile& log = uni.Log();
    // The agent's key goes below; the program groups' step still needs its menu entry.
    std::wstring subfolder, link;
    if (ReadMenuEntry(subfolder, link)) uni.RememberMenuEntry(subfolder, link);
    RemoveNotificationData(log);
    RemoveComRegistrations();
    RemoveLaunchValues(log, winVersion().IsNT());
    RemoveMainKey(uni);
    RemoveSuiteKeys();
    if (IsWow64()) RemoveRegistryLinks64(uni);
    RemoveServiceKeyRemnant(log);
}

void reloUni::UnregisterAgentFolder()
{
    if (!winVersion().IsNT()) return;
    CHelper::unRegFileFromMask((installFolder_ + L"\\Agent").c_str(), log_);
    // The user service ran under the suite's own account: its rights and the account go with it.
    DeleteUser(kServiceAccount, log_);
}

void DeleteStartMenuLink(const wchar_t* subfolder, const wchar_t* link, reloUni& uni)
{
    CLogFile& log = uni.Log();
    win::ComInit com;
    win::ComPtr<IShellLinkW> shellLink;
    if (!com.ok() || FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             shellLink.putVoid())))
        return;
    log.Log(L"uprooter.Exe, Got IShell instance.");
    win::ComPtr<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.put()))) return;
    log.Log(L"uprooter.Exe, Got IMalloc instance.");
    std::wstring programs;
    if (!ProgramsFolder(allocator.get(), programs)) return;
    log.Log(L"uprooter.Exe, Got Startmenut Location.");

    const std::wstring group = subfolder ? subfolder : L"";
    const std::wstring name = link ? link : L"";
    const std::wstring folder = GroupFolder(programs, group, name);
    if (folder.empty()) {
        log.Log(L"DeleteStartMenuLink - Refusing start menu entry \"%s\" \"%s\": not a program group below %s",
                group.c_str(), name.c_str(), programs.c_str());
        return;
    }
    // The link lies in its group folder even when the subfolder ends without a separator.
    const std::wstring linkPath = folder + L"\\" + name + L".lnk";
    log.Log(L"uprooter.Exe, Deleting start menu link %s.", linkPath.c_str());
    removal::RemoveFile(linkPath, removal::Guard::Standard, removal::InUse::Fail);
    if (IsFolder(folder)) Nukedir(folder.c_str(), [&log](const wchar_t* line) { log.Log(L"%s", line); });
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, linkPath.c_str(), nullptr);
}

void RemoveProgramGroups(reloUni& uni)
{
    for (const ProgramGroup& group : names.programGroups)
        DeleteStartMenuLink(GroupText(group.folderId, group.folder).c_str(), GroupText(group.linkId, group.link).c_str(),
                            uni);

    // The key itself while it is there; the entry kept before it went otherwise.
    std::wstring subfolder, link;
    if (!ReadMenuEntry(subfolder, link)) {
        subfolder = uni.MenuSubfolder();
        link = uni.MenuLink();
    }
    if (link.empty()) return;
    if (IsSuiteGroup(subfolder))
        DeleteStartMenuLink(subfolder.c_str(), link.c_str(), uni);
    else
        uni.Log().Log(L"RemoveProgramGroups - Refusing recorded start menu entry \"%s\" \"%s\": not a group of the suite",
                      subfolder.c_str(), link.c_str());
}

void RemoveStartupEntries(reloUni& uni)
{
    CLogFile& log = uni.Log();
    win::Key exclusions;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kExclusionKey, KEY_ALL_ACCESS, RegView::Native, exclusions) != ERROR_SUCCESS)
        return;
    for (const wchar_t* value : names.exclusionValues) {
        const removal::Record record = removal::RemoveValue(HKEY_LOCAL_MACHINE, kExclusionKey, RegView::Native, value);
        if (value == names.exclusionValues[0] && record.outcome != removal::Outcome::Removed)
            log.Log(L"Failed to remove the registry value GRDSConsole.exe. Error: %d", static_cast<int>(record.error));
    }
    wchar_t startup[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT, startup);
    const std::wstring linkPath = std::wstring(startup) + L"\\" + names.startupLink;
    const removal::Record record = removal::RemoveFile(linkPath, removal::Guard::Standard, removal::InUse::Fail);
    if (record.outcome == removal::Outcome::Removed)
        SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, linkPath.c_str(), nullptr);
    else
        log.Log(L"Failed to remove the shortcut from the startup menu. Error: %d", static_cast<int>(record.error));
}
