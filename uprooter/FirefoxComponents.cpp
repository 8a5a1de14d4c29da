#include "FirefoxComponents.h"

#include "FileName.h"
#include "Handle.h"
#include "PlatformInfo.h"
#include "ProcessFlags.h"
#include "Registry.h"
#include "Removal.h"
#include "reloUni.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

namespace removal = win::removal;

constexpr wchar_t kMozillaKey[] = L"SOFTWARE\\Mozilla";
constexpr wchar_t kProductPrefix[] = L"Mozilla Firefox";
constexpr size_t kProductPrefixChars = 15;
constexpr size_t kExtensionsKeyChars = 260;  // 259 and the terminator

// Reads "Components" of the product key's "extensions" subkey.
bool ReadComponentsValue(const wchar_t* product, wchar_t* folder)
{
    wchar_t path[kExtensionsKeyChars] = {};
    const int n = _snwprintf(path, kExtensionsKeyChars - 1, L"%s\\%s\\extensions", kMozillaKey, product);
    if (n < 0) return false;  // would not fit: another key's name, cut
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS) return false;
    return win::ReadStringInto(key.get(), L"Components", folder, kPathChars) == ERROR_SUCCESS;
}

// "1.5" and later: major above 1, or 1 with minor 5 or more.
bool RegistersComponents(int major, int minor) { return major > 1 || (major == 1 && minor >= 5); }

// The marker goes only into a folder the removal layer would let go (no
// protected folder, nothing at or below the Windows folder, no link on the
// way); a marker that is a link or another file's second name is not written.
void WriteMarker(const std::wstring& folder, CLogFile& log)
{
    if (!removal::Judge(folder, removal::Guard::OutsideWindows).allowed()) {
        log.Log(L"reloUni::RemoveFirefoxComponents - refusing marker folder %s", folder.c_str());
        return;
    }
    const std::wstring marker = folder + L"\\" + kFirefoxMarkerName;
    win::Handle file(CreateFileW(marker.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        log.Log(L"reloUni::RemoveFirefoxComponents - refusing marker %s", marker.c_str());
        return;
    }
    DWORD written = 0;
    WriteFile(file.get(), kFirefoxMarker, sizeof(kFirefoxMarker), &written, nullptr);
    SetEndOfFile(file.get());  // an older, longer marker keeps no tail
}

}  // namespace

bool GetFirefoxComponentsFolder(wchar_t* folder)
{
    win::Key mozilla;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kMozillaKey, KEY_READ, win::RegView::Native, mozilla) != ERROR_SUCCESS)
        return false;
    // The plain "Mozilla Firefox" key holds only the version and lists first,
    // so the search goes on to the versioned key that holds "extensions".
    for (DWORD index = 0;; ++index) {
        wchar_t name[kPathChars] = {};
        DWORD chars = kPathChars;
        const LONG rc = RegEnumKeyExW(mozilla.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return false;
        if (rc != ERROR_SUCCESS) continue;  // a name too long for the buffer is not Firefox's
        if (_wcsnicmp(name, kProductPrefix, kProductPrefixChars) == 0 && ReadComponentsValue(name, folder))
            return true;
    }
}

bool GetFirefoxVersion(int& major, int& minor)
{
    win::Key mozilla, product;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kMozillaKey, KEY_QUERY_VALUE, win::RegView::Native, mozilla) !=
            ERROR_SUCCESS ||
        win::OpenKey(mozilla.get(), kProductPrefix, KEY_QUERY_VALUE, win::RegView::Native, product) != ERROR_SUCCESS)
        return false;
    wchar_t version[kPathChars] = {};
    if (win::ReadStringInto(product.get(), L"CurrentVersion", version, kPathChars) != ERROR_SUCCESS) return false;
    swscanf(version, L"%d.%d", &major, &minor);
    return true;
}

void reloUni::RemoveFirefoxComponents()
{
    wchar_t buffer[kPathChars] = {};
    if (!GetFirefoxComponentsFolder(buffer)) return;
    int major = 0, minor = 0;
    const bool versionRead = GetFirefoxVersion(major, minor);
    log_.Log(L"Firefox version: %d.%d\r\n", major, minor);
    if (!versionRead || !RegistersComponents(major, minor) || !FileName(buffer).IsDirectory()) return;

    std::wstring folder = buffer;
    while (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();
    // Firefox's folder is never at or below the Windows folder, nor reached
    // through a link: a value naming such a place gets neither deletions nor
    // the marker.
    if (!removal::Judge(folder, removal::Guard::OutsideWindows).allowed()) {
        log_.Log(L"reloUni::RemoveFirefoxComponents - refusing components folder %s", folder.c_str());
        return;
    }
    for (const wchar_t* name : kFirefoxComponentFiles) {
        const std::wstring path = folder + L"\\" + name;
        log_.Log(L"Attempting to delete %s\r\n", path.c_str());
        const removal::Record removed =
            removal::RemoveFile(path, removal::Guard::OutsideWindows, removal::InUse::LeaveForRestart);
        if (removed.outcome == removal::Outcome::Removed)
            log_.Log(L"Successfully deleted %s\r\n", path.c_str());
        else
            log_.Log(L"Error 0x%08x Deleting %s\r\n", static_cast<unsigned>(removed.error), path.c_str());
        if (removed.outcome == removal::Outcome::LeftForRestart) g_RebootNeeded = 1;
    }

    const size_t cut = folder.find_last_of(L'\\');
    if (cut != std::wstring::npos) WriteMarker(folder.substr(0, cut), log_);
}
