#include "SuiteStage.h"

#include "FileTree.h"
#include "Handle.h"
#include "Registry.h"

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <sstream>

namespace stage {

using win::RegView;

namespace {

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kAgentProductCode[] = L"{0C7E5F2A-9B1D-4E3C-8A6F-2D4B6E8F0A1C}";
constexpr wchar_t kSuiteFolder[] = L"\\Zelmar Testbed";

// --- Where things lie ---------------------------------------------------------------

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? buffer : L"";
}

// Program Files of the native (64-bit on 64-bit Windows) and of 32-bit programs.
std::wstring ProgramFilesNative() { return IsWindows64() ? Env(L"ProgramW6432") : Env(L"ProgramFiles"); }
std::wstring ProgramFiles32() { return Env(L"ProgramFiles"); }

std::vector<RegView> Views()
{
    if (IsWindows64()) return {RegView::Bit64, RegView::Bit32};
    return {RegView::Native};
}

std::wstring ViewName(RegView view)
{
    switch (view) {
    case RegView::Bit64: return L"HKLM(64-bit view)\\";
    case RegView::Bit32: return L"HKLM(32-bit view)\\";
    default: return L"HKLM\\";
    }
}

// On 32-bit Windows both views are the one tree.
RegView On(RegView view) { return IsWindows64() ? view : RegView::Native; }

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

// --- The footprint: what the suite's installers lay -----------------------------------

struct KeyItem {
    std::wstring path;
    RegView view;
};

// Written by the common installer (64-bit view) and the agent and trust
// registrations (32-bit view).
std::vector<KeyItem> FootprintKeys()
{
    std::vector<KeyItem> keys = {{L"SOFTWARE\\Zelmar\\Endpoint", On(RegView::Bit64)},
                                 {L"SOFTWARE\\Zelmar\\ManagedServices", On(RegView::Bit32)},
                                 {L"SOFTWARE\\Zelmar\\ZuzadaZozi", On(RegView::Bit32)}};
    for (const Product& product : SuiteProducts())
        for (RegView view : Views()) keys.push_back({kUninstall + std::wstring(product.productCode), view});
    return keys;
}

std::vector<std::wstring> FootprintFolders()
{
    const std::wstring suite32 = ProgramFiles32() + kSuiteFolder, suiteNative = ProgramFilesNative() + kSuiteFolder;
    return {suite32 + L"\\Antivirus",
            suite32 + L"\\AGS Connector",
            suite32 + L"\\Endpoint Guard Platform",
            suiteNative + L"\\Common Installer",
            PlatformFolder(),
            ProgramFiles32() + L"\\Zelmar\\ManagedServices"};
}

// --- Another product's data inside the suite's shared folders and keys ------------------

const std::vector<std::wstring>& PlantedKeys()
{
    static const std::vector<std::wstring> keys = {
        L"SOFTWARE\\Zelmar\\OtherProduct",
        L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\OtherVendor"};
    return keys;
}
constexpr wchar_t kPlantedValue[] = L"Owner";
constexpr wchar_t kPlantedText[] = L"Other Product, not the suite's";

std::vector<std::wstring> PlantedFiles()
{
    std::vector<std::wstring> files = {ProgramFiles32() + kSuiteFolder + L"\\Other Product\\keep.txt",
                                       ProgramFiles32() + L"\\Zelmar\\Other Product\\keep.txt"};
    if (IsWindows64()) files.push_back(ProgramFilesNative() + kSuiteFolder + L"\\Other Product\\keep.txt");
    return files;
}

// --- Small Win32 steps ----------------------------------------------------------------

DWORD RunAndWait(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &pi))
        return GetLastError();
    win::ProcessInformation child;
    child.take(pi);
    WaitForSingleObject(child.process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    return code;
}

bool KeyExists(const std::wstring& path, RegView view)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsRegistered(const wchar_t* productCode) { return MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT; }

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// Whether the snapshot holds the entry (names compared without letter case).
bool Had(const Snapshot& before, const std::wstring& entry)
{
    if (before.count(entry)) return true;
    return std::any_of(before.begin(), before.end(), [&](const auto& item) { return Lower(item.first) == Lower(entry); });
}

// Removes folder and its parents up to (not including) stop while they are
// empty and were not there before staging.
void RemoveEmptyUpTo(std::wstring folder, const std::wstring& stop, const Snapshot& before)
{
    while (folder.size() > stop.size() && StartsWith(folder, stop) && !Had(before, folder) &&
           RemoveDirectoryW(folder.c_str()))
        folder = Parent(folder);
}

// Deletes the key and its parents, up to (not including) the root's child,
// while they are empty and were not there before staging.
void DeleteEmptyUp(std::wstring path, RegView view, const Snapshot& before)
{
    while (path.find(L'\\') != std::wstring::npos && !Had(before, ViewName(view) + path) &&
           RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), static_cast<REGSAM>(view), 0) == ERROR_SUCCESS)
        path = Parent(path);
}

std::wstring MachinePath(DWORD* type)
{
    win::Key key;
    std::wstring path;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kEnvironment, KEY_READ, RegView::Native, key) == ERROR_SUCCESS &&
        RegQueryValueExW(key.get(), L"Path", nullptr, type, nullptr, nullptr) == ERROR_SUCCESS)
        win::ReadString(key.get(), L"Path", path);
    return path;
}

std::wstring PathEntry() { return L";" + PlatformFolder(); }

// The machine's Path without the platform folder that Lay appended.
std::wstring WithoutPathEntry(std::wstring path)
{
    size_t at = Lower(path).find(Lower(PathEntry()));
    if (at != std::wstring::npos) path.erase(at, PathEntry().size());
    return path;
}

void WriteMachinePath(const std::wstring& path, DWORD type)
{
    win::Key key;
    win::OpenKey(HKEY_LOCAL_MACHINE, kEnvironment, KEY_SET_VALUE, RegView::Native, key);
    win::WriteString(key.get(), L"Path", path, type == REG_SZ ? REG_SZ : REG_EXPAND_SZ);
}

// Switches off the testbed packages' failing uninstall actions in the cached
// package, so that what a run left installed can be uninstalled.
void SwitchOffFailingActions(const wchar_t* productCode)
{
    wchar_t local[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    if (MsiGetProductInfoW(productCode, INSTALLPROPERTY_LOCALPACKAGE, local, &chars) != ERROR_SUCCESS) return;
    MSIHANDLE opened = 0;
    if (MsiOpenDatabaseW(local, MSIDBOPEN_TRANSACT, &opened) != ERROR_SUCCESS) return;
    win::MsiHandle database(opened);
    if (MsiDatabaseOpenViewW(database.get(),
                             L"UPDATE `InstallExecuteSequence` SET `Condition` = '0' WHERE `Action` = 'FailOnRemove' "
                             L"OR `Action` = 'RemoveCommonInstaller'",
                             &opened) != ERROR_SUCCESS)
        return;
    win::MsiHandle view(opened);
    if (MsiViewExecute(view.get(), 0) == ERROR_SUCCESS) MsiDatabaseCommit(database.get());
}

// --- Snapshot ---------------------------------------------------------------------

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

void TakeKey(Snapshot& out, const std::wstring& path, RegView view)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) != ERROR_SUCCESS) return;
    const std::wstring name = ViewName(view) + path;
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
            text = std::to_wstring(type) + L":" + WithoutPathEntry(stored.c_str());
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
    for (const std::wstring& child : children) TakeKey(out, path + L"\\" + child, view);
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

std::wstring WindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

bool Names(const std::wstring& entry, const std::wstring& item)
{
    return Lower(entry) == Lower(item) || StartsWith(entry, item + L"\\");
}

// The entry names a footprint item or lies below one.
bool InFootprint(const std::wstring& entry)
{
    for (const KeyItem& key : FootprintKeys())
        if (Names(entry, ViewName(key.view) + key.path)) return true;
    for (const std::wstring& folder : FootprintFolders())
        if (Names(entry, folder)) return true;
    return false;
}

// The entry is planted data or a folder or key laid to hold it; the planted
// data is checked on its own.
bool InPlanted(const std::wstring& entry)
{
    std::vector<std::wstring> items = PlantedFiles();
    for (RegView view : Views())
        for (const std::wstring& key : PlantedKeys()) items.push_back(ViewName(view) + key);
    for (const std::wstring& item : items)
        if (Names(entry, item) || Names(item, entry)) return true;
    return false;
}

// Windows Installer creates its own bookkeeping containers (keys and the cache
// folder) on the first installation and keeps them when the last product
// goes; an added container holding no value or file is that and nothing else.
bool IsEmptyInstallerContainer(const std::wstring& entry, const Snapshot& after)
{
    static const std::vector<std::wstring> roots = {
        L"SOFTWARE\\Classes\\Installer", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"};
    bool inRoot = Names(entry, WindowsFolder() + L"\\Installer");
    for (RegView view : Views())
        for (const std::wstring& root : roots) inRoot = inRoot || Names(entry, ViewName(view) + root);
    if (!inRoot) return false;
    for (auto at = after.lower_bound(entry); at != after.end() && Names(at->first, entry); ++at)
        if (at->second != L"key" && at->second != L"folder") return false;
    return true;
}

}  // namespace

bool IsWindows64()
{
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
}

const std::vector<Product>& SuiteProducts()
{
    static const std::vector<Product> products = {
        {L"Zelmar Endpoint Antivirus", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000001}"},
        {L"Zelmar AGS Connector", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000002}"},
        {L"Zelmar Endpoint Guard Platform", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000003}"},
        {L"Zelmar Endpoint Common Installer", L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000004}"},
        {L"Zelmar Management Agent", kAgentProductCode}};
    return products;
}

std::wstring PlatformFolder() { return ProgramFilesNative() + kSuiteFolder + L"\\Endpoint Guard Platform"; }

std::vector<std::wstring> Lay(const Sources& sources)
{
    std::vector<std::wstring> problems;
    // The common installer of the machine's own bitness registers in the native view.
    const std::wstring common = IsWindows64() ? L"CommonInstaller_x64.msi" : L"CommonInstaller.msi";
    const std::vector<std::wstring> packages = {
        sources.suitePackages + L"\\EndpointAntivirus.msi", sources.suitePackages + L"\\AgsConnector.msi",
        sources.suitePackages + L"\\GuardPlatform.msi", sources.suitePackages + L"\\" + common, sources.agentPackage};
    for (const std::wstring& package : packages) {
        DWORD code = RunAndWait(L"msiexec /i \"" + package + L"\" /qn");
        if (code != 0) problems.push_back(L"msiexec /i " + package + L" answered " + std::to_wstring(code));
    }

    // Under Wine a parent's DLL folder does not reach its children, so
    // Guardswitch finds the suite's libraries through the search path.
    DWORD type = REG_EXPAND_SZ;
    std::wstring path = MachinePath(&type);
    if (Lower(path).find(Lower(PathEntry())) == std::wstring::npos) WriteMachinePath(path + PathEntry(), type);

    for (RegView view : Views())
        for (const std::wstring& planted : PlantedKeys()) {
            win::Key key;
            if (win::CreateKey(HKEY_LOCAL_MACHINE, planted, KEY_ALL_ACCESS, view, key) != ERROR_SUCCESS ||
                win::WriteString(key.get(), kPlantedValue, kPlantedText) != ERROR_SUCCESS)
                problems.push_back(L"cannot plant " + ViewName(view) + planted);
        }
    for (const std::wstring& file : PlantedFiles()) {
        SHCreateDirectoryExW(nullptr, Parent(file).c_str(), nullptr);
        win::Handle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!handle || !WriteFile(handle.get(), "not the suite's", 15, &written, nullptr))
            problems.push_back(L"cannot plant " + file);
    }
    return problems;
}

void Undo(const Snapshot& before)
{
    const std::vector<Product>& products = SuiteProducts();
    for (auto product = products.rbegin(); product != products.rend(); ++product) {
        if (!IsRegistered(product->productCode)) continue;
        SwitchOffFailingActions(product->productCode);
        RunAndWait(L"msiexec /x " + std::wstring(product->productCode) + L" /qn");
    }
    // What was there before staging is not the staging's to remove.
    for (const KeyItem& key : FootprintKeys())
        if (!Had(before, ViewName(key.view) + key.path)) win::DeleteTree(HKEY_LOCAL_MACHINE, key.path, key.view);
    for (const std::wstring& folder : FootprintFolders())
        if (!Had(before, folder)) win::RemoveTree(folder);

    for (RegView view : Views())
        for (const std::wstring& planted : PlantedKeys()) {
            win::DeleteTree(HKEY_LOCAL_MACHINE, planted, view);
            DeleteEmptyUp(Parent(planted), view, before);
        }
    for (const std::wstring& file : PlantedFiles()) {
        DeleteFileW(file.c_str());
        RemoveEmptyUpTo(Parent(file), Parent(Parent(Parent(file))), before);
    }
    for (const std::wstring& folder : FootprintFolders())
        RemoveEmptyUpTo(Parent(folder), Parent(Parent(folder)), before);

    DWORD type = REG_EXPAND_SZ;
    std::wstring path = MachinePath(&type);
    if (WithoutPathEntry(path) != path) WriteMachinePath(WithoutPathEntry(path), type);
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

Snapshot TakeSnapshot(const std::vector<std::wstring>& extraFolders)
{
    Snapshot out;
    // The suite's shared keys, the Windows Installer's registrations and the
    // session settings (search path, pending renames).
    const std::vector<std::wstring> trees = {L"SOFTWARE\\Zelmar",
                                             L"SOFTWARE\\Ostrand Labs",
                                             L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                             L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
                                             L"SOFTWARE\\Classes\\Installer",
                                             kSessionManager};
    for (RegView view : Views())
        for (const std::wstring& tree : trees) TakeKey(out, tree, view);
    std::vector<std::wstring> folders = {ProgramFilesNative(), WindowsFolder() + L"\\Installer"};
    if (IsWindows64()) folders.push_back(ProgramFiles32());
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const std::wstring& folder : folders) TakeFolder(out, folder);
    return out;
}

namespace {

// Entries added, removed or changed since before, apart from the files named in
// ignoredFiles and Windows Installer's empty containers; with outsideOnly, also
// apart from the footprint and the planted data.
std::vector<std::wstring> Compare(const Snapshot& before, const std::vector<std::wstring>& extraFolders,
                                  const std::vector<std::wstring>& ignoredFiles, bool outsideOnly)
{
    std::vector<std::wstring> changes;
    std::set<std::wstring> ignored;
    for (const std::wstring& file : ignoredFiles) ignored.insert(Lower(file));
    const Snapshot after = TakeSnapshot(extraFolders);
    auto compare = [&](const std::wstring& name, const wchar_t* what) {
        if (ignored.count(Lower(name)) || (outsideOnly && (InFootprint(name) || InPlanted(name)))) return;
        if (std::wstring(what) == L"added:" && IsEmptyInstallerContainer(name, after)) return;
        changes.push_back(std::wstring(what) + L" " + name);
    };
    for (const auto& [name, value] : before) {
        auto now = after.find(name);
        if (now == after.end()) compare(name, L"removed:");
        else if (now->second != value) compare(name, L"changed:");
    }
    for (const auto& [name, value] : after)
        if (!before.count(name)) compare(name, L"added:");
    return changes;
}

}  // namespace

std::vector<std::wstring> ChangesSince(const Snapshot& before, const std::vector<std::wstring>& extraFolders,
                                       const std::vector<std::wstring>& ignoredFiles)
{
    return Compare(before, extraFolders, ignoredFiles, false);
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

Audit TakeAudit(const Snapshot& before, const std::vector<std::wstring>& extraFolders,
                const std::vector<std::wstring>& ignoredFiles)
{
    Audit audit;
    for (const Product& product : SuiteProducts())
        if (IsRegistered(product.productCode))
            audit.stillPresent.push_back(std::wstring(product.name) + L" " + product.productCode +
                                        L" is registered with Windows Installer");
    for (const KeyItem& key : FootprintKeys())
        if (KeyExists(key.path, key.view) && !Had(before, ViewName(key.view) + key.path))
            audit.stillPresent.push_back(ViewName(key.view) + key.path);
    for (const std::wstring& folder : FootprintFolders())
        if (PathExists(folder) && !Had(before, folder)) audit.stillPresent.push_back(folder);

    {
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ, RegView::Native, key);
        DWORD bytes = 0;
        if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) ==
            ERROR_SUCCESS) {
            std::wstring data(bytes / sizeof(wchar_t) + 2, L'\0');
            RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &bytes);
            std::vector<std::wstring> strings;
            for (size_t at = 0; at < bytes / sizeof(wchar_t);) {
                std::wstring item = data.c_str() + at;
                strings.push_back(item);
                at += item.size() + 1;
            }
            for (size_t i = 0; i + 1 < strings.size(); i += 2) {
                if (strings[i].empty()) continue;
                audit.pendingRestart.push_back(strings[i + 1].empty() ? L"delete " + strings[i]
                                                                 : L"rename " + strings[i] + L" -> " + strings[i + 1]);
            }
        }
    }

    audit.outsideChanged = Compare(before, extraFolders, ignoredFiles, true);

    for (RegView view : Views())
        for (const std::wstring& planted : PlantedKeys()) {
            win::Key key;
            std::wstring text;
            if (win::OpenKey(HKEY_LOCAL_MACHINE, planted, KEY_READ, view, key) != ERROR_SUCCESS ||
                win::ReadString(key.get(), kPlantedValue, text) != ERROR_SUCCESS || text != kPlantedText)
                audit.plantedMissing.push_back(ViewName(view) + planted);
        }
    for (const std::wstring& file : PlantedFiles())
        if (!PathExists(file)) audit.plantedMissing.push_back(file);
    return audit;
}

std::wstring Describe(const Audit& audit)
{
    std::wstring text;
    auto list = [&](const wchar_t* title, const std::vector<std::wstring>& items) {
        text += std::wstring(title) + (items.empty() ? L": none\n" : L":\n");
        for (const std::wstring& item : items) text += L"  " + item + L"\n";
    };
    list(L"Still present of the suite", audit.stillPresent);
    list(L"Left for the next restart", audit.pendingRestart);
    list(L"Changed outside the suite", audit.outsideChanged);
    list(L"Missing of another product's data", audit.plantedMissing);
    return text;
}

}  // namespace stage
