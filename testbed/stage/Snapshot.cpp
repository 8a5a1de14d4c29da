// Snapshots of the trees around a suite: one entry per key, value, folder and
// file, with a text that changes when the item does.
#include "Snapshot.h"

#include "Places.h"

#include <sstream>

namespace stage {

using win::RegView;

namespace {

constexpr wchar_t kEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::wstring Hex(const BYTE* data, DWORD size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 15]);
    }
    return text;
}

void TakeKey(Snapshot& out, HKEY root, const std::wstring& path, RegView view, const std::wstring& pathEntry)
{
    win::Key key;
    if (win::OpenKey(root, path, KEY_READ, view, key) != ERROR_SUCCESS) return;
    const std::wstring name = RootName(root, view) + path;
    out[name] = L"key";
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;;) {
        wchar_t valueName[16384];  // the longest name Windows allows, and its end
        DWORD nameChars = 16384, bytes = static_cast<DWORD>(data.size()), type = 0;
        LONG status = RegEnumValueW(key.get(), i, valueName, &nameChars, nullptr, &type, data.data(), &bytes);
        if (status == ERROR_MORE_DATA) {
            data.resize(bytes);
            continue;
        }
        if (status != ERROR_SUCCESS) break;
        ++i;
        std::wstring value(valueName, nameChars);
        // Reported apart: what waits for the restart.
        if (path == kSessionManager && value == L"PendingFileRenameOperations") continue;
        std::wstring text = std::to_wstring(type) + L":" + Hex(data.data(), bytes);
        if (path == kEnvironment && Lower(value) == L"path") {
            std::wstring stored(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
            text = std::to_wstring(type) + L":" + WithoutPathEntry(stored.c_str(), pathEntry);
        }
        out[name + L"\\:" + value] = text;
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(key.get(), i, child, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(child, chars);
    }
    key.reset();
    for (const std::wstring& child : children) TakeKey(out, root, path + L"\\" + child, view, pathEntry);
}

void TakeFolder(Snapshot& out, const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE found = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) return;
    win::FindHandle search(found);
    out[folder] = L"folder";
    std::vector<std::wstring> folders;
    do {
        std::wstring name = data.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            out[path] = L"link";  // never followed
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(path);
            continue;
        }
        ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        ULONGLONG written = (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        out[path] = std::to_wstring(size) + L" bytes, written " + std::to_wstring(written);
    } while (FindNextFileW(search.get(), &data));
    search.reset();
    for (const std::wstring& child : folders) TakeFolder(out, child);
}

}  // namespace

std::wstring MachinePath(DWORD* type)
{
    win::Key key;
    std::wstring path;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kEnvironment, KEY_READ, RegView::Native, key) == ERROR_SUCCESS &&
        RegQueryValueExW(key.get(), L"Path", nullptr, type, nullptr, nullptr) == ERROR_SUCCESS)
        win::ReadString(key.get(), L"Path", path);
    return path;
}

void WriteMachinePath(const std::wstring& path, DWORD type)
{
    win::Key key;
    win::OpenKey(HKEY_LOCAL_MACHINE, kEnvironment, KEY_SET_VALUE, RegView::Native, key);
    win::WriteString(key.get(), L"Path", path, type == REG_SZ ? REG_SZ : REG_EXPAND_SZ);
}

std::wstring WithoutPathEntry(std::wstring path, const std::wstring& folder)
{
    if (folder.empty()) return path;
    const std::wstring entry = L";" + folder;
    size_t at = Lower(path).find(Lower(entry));
    if (at != std::wstring::npos) path.erase(at, entry.size());
    return path;
}

std::wstring SessionPath()
{
    DWORD type = REG_EXPAND_SZ;
    const std::wstring path = MachinePath(&type);
    std::wstring expanded(ExpandEnvironmentStringsW(path.c_str(), nullptr, 0), L'\0');
    DWORD chars = ExpandEnvironmentStringsW(path.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    expanded.resize(chars > 0 ? chars - 1 : 0);
    return expanded;
}

Snapshot TakeSnapshot(const Footprint& suite, const std::vector<std::wstring>& extraFolders)
{
    Snapshot out;
    for (RegView view : Views())
        for (const auto& [root, tree] : suite.keyTrees) TakeKey(out, root, tree, view, suite.pathEntry);
    std::vector<std::wstring> folders = suite.folderTrees;
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const std::wstring& folder : folders) TakeFolder(out, folder);
    return out;
}

std::wstring Serialize(const Snapshot& snapshot)
{
    std::wstring text;
    for (const auto& [name, value] : snapshot) text += name + L"\t" + value + L"\n";
    return text;
}

Snapshot Deserialize(const std::wstring& text)
{
    Snapshot snapshot;
    std::wistringstream in(text);
    std::wstring line;
    while (std::getline(in, line)) {
        size_t tab = line.find(L'\t');
        if (tab != std::wstring::npos) snapshot[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return snapshot;
}

bool Had(const Snapshot& before, const std::wstring& entry)
{
    if (before.count(entry)) return true;
    const std::wstring lower = Lower(entry);
    for (const auto& item : before)
        if (Lower(item.first) == lower) return true;
    return false;
}

bool StoredValue(const Snapshot& before, const std::wstring& entry, DWORD& type, std::vector<BYTE>& data)
{
    auto at = before.find(entry);
    if (at == before.end()) return false;
    const std::wstring& text = at->second;
    size_t colon = text.find(L':');
    if (colon == std::wstring::npos) return false;
    type = static_cast<DWORD>(std::wcstoul(text.substr(0, colon).c_str(), nullptr, 10));
    data.clear();
    for (size_t i = colon + 1; i + 1 < text.size(); i += 2)
        data.push_back(static_cast<BYTE>(std::wcstoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return true;
}

}  // namespace stage
