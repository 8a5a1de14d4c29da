// The stager's engine: lays, audits and undoes any suite's footprint.
#include "SuiteStage.h"

#include "FileTree.h"
#include "Handle.h"
#include "Hives.h"
#include "Places.h"
#include "Registry.h"
#include "RegistryLinks.h"
#include "Running.h"
#include "Shortcuts.h"
#include "Snapshot.h"

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <optional>
#include <set>

namespace stage {

using win::RegView;

namespace {

constexpr wchar_t kPlantedValue[] = L"Owner";
constexpr wchar_t kPlantedText[] = L"Other Product, not the suite's";

std::wstring KeyName(const KeyItem& key) { return RootName(key.root, key.view) + key.path; }
std::wstring ValueName(const ValueItem& value) { return KeyName(value.key) + L"\\:" + value.name; }

bool KeyExists(const KeyItem& item)
{
    win::Key key;
    return win::OpenKey(item.root, item.path, KEY_READ, item.view, key) == ERROR_SUCCESS;
}

bool IsRegistered(const wchar_t* productCode) { return MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT; }

bool IsLink(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// --- Links: Windows programs cannot make one under Wine, so the stager asks
// the host's own tools through Wine's Unix namespace. ---------------------------

std::wstring UnixName(const std::wstring& path)
{
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    auto unixName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return L"";
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), static_cast<int>(wide.size()));
    HeapFree(GetProcessHeap(), 0, name);
    wide.resize(wide.size() - 1);
    return wide;
}

bool MakeLink(const LinkItem& link)
{
    const std::wstring from = UnixName(link.link), to = UnixName(link.target);
    if (from.empty() || to.empty()) return false;
    // Wine reports a host program as started and gone at once: wait for its work.
    RunAndWait(L"\"\\\\?\\unix\\bin\\ln\" -s \"" + to + L"\" \"" + from + L"\"");
    for (int tries = 0; tries < 50 && !IsLink(link.link); ++tries) Sleep(100);
    return IsLink(link.link);
}

// Removes the link itself; what it points to stays.
void RemoveLink(const std::wstring& link)
{
    const std::wstring name = UnixName(link);
    if (!IsLink(link) || name.empty()) return;
    RunAndWait(L"\"\\\\?\\unix\\bin\\rm\" -f \"" + name + L"\"");
    for (int tries = 0; tries < 50 && IsLink(link); ++tries) Sleep(100);
}

// --- Laying --------------------------------------------------------------------

bool LayFile(const FileItem& file)
{
    SHCreateDirectoryExW(nullptr, Parent(file.path).c_str(), nullptr);
    if (!file.copyFrom.empty()) return CopyFileW(file.copyFrom.c_str(), file.path.c_str(), FALSE) != FALSE;
    win::Handle handle(CreateFileW(file.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return handle && WriteFile(handle.get(), file.content.data(), static_cast<DWORD>(file.content.size()), &written,
                               nullptr);
}

LONG LayValue(const ValueItem& value)
{
    win::Key key;
    LONG rc = win::CreateKey(value.key.root, value.key.path, KEY_SET_VALUE, value.key.view, key);
    if (rc != ERROR_SUCCESS) return rc;
    return value.type == REG_DWORD ? win::WriteDword(key.get(), value.name.c_str(), value.number)
                                   : win::WriteString(key.get(), value.name.c_str(), value.text, value.type);
}

bool HoldsLaid(const ValueItem& value)
{
    win::Key key;
    if (win::OpenKey(value.key.root, value.key.path, KEY_QUERY_VALUE, value.key.view, key) != ERROR_SUCCESS)
        return false;
    if (value.type == REG_DWORD) {
        DWORD number = 0;
        return win::ReadDword(key.get(), value.name.c_str(), number) == ERROR_SUCCESS && number == value.number;
    }
    std::wstring text;
    return win::ReadString(key.get(), value.name.c_str(), text) == ERROR_SUCCESS && Lower(text) == Lower(value.text);
}

void LayRegistry(const Footprint& suite, std::vector<std::wstring>& problems)
{
    std::vector<const std::vector<KeyItem>*> laid = {&suite.platformKeys};
    if (!suite.packagesLayItems) laid.push_back(&suite.keys);
    for (const std::vector<KeyItem>* keys : laid)
        for (const KeyItem& item : *keys) {
            win::Key key;
            if (win::CreateKey(item.root, item.path, KEY_READ, item.view, key) != ERROR_SUCCESS)
                problems.push_back(L"cannot lay " + KeyName(item));
        }
    for (const ValueItem& value : suite.values)
        if (LayValue(value) != ERROR_SUCCESS) problems.push_back(L"cannot lay " + ValueName(value));
    for (const KeyItem& planted : suite.plantedKeys) {
        win::Key key;
        if (win::CreateKey(planted.root, planted.path, KEY_ALL_ACCESS, planted.view, key) != ERROR_SUCCESS ||
            win::WriteString(key.get(), kPlantedValue, kPlantedText) != ERROR_SUCCESS)
            problems.push_back(L"cannot plant " + KeyName(planted));
    }
    for (const ValueItem& value : suite.plantedValues)
        if (LayValue(value) != ERROR_SUCCESS) problems.push_back(L"cannot plant " + ValueName(value));
}

void LayFiles(const Footprint& suite, std::vector<std::wstring>& problems)
{
    if (!suite.packagesLayItems)
        for (const std::wstring& folder : suite.folders) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    for (const FileItem& file : suite.files)
        if (!LayFile(file)) problems.push_back(L"cannot lay " + file.path);
    for (const FileItem& file : suite.platformFiles)
        if (!LayFile(file)) problems.push_back(L"cannot lay " + file.path);
    for (const FileItem& file : suite.plantedFiles)
        if (!LayFile(file)) problems.push_back(L"cannot plant " + file.path);
    for (const LinkItem& link : suite.plantedLinks)
        if (!MakeLink(link)) problems.push_back(L"cannot make the link " + link.link);
}

// --- Undoing -------------------------------------------------------------------

// The registry tree of the snapshot that holds the key, if any.
const std::wstring* TreeOf(const Footprint& suite, const KeyItem& key)
{
    for (const auto& [root, tree] : suite.keyTrees)
        if (root == key.root && Names(key.path, tree)) return &tree;
    return nullptr;
}

// Deletes the key and its parents, up to the top of its snapshot tree, while
// they are empty and were not there before staging.
void DeleteEmptyUp(const Footprint& suite, KeyItem key, const Snapshot& before)
{
    const std::wstring* tree = TreeOf(suite, key);
    while (tree && Names(key.path, *tree) && !Had(before, KeyName(key)) &&
           RegDeleteKeyExW(key.root, key.path.c_str(), static_cast<REGSAM>(key.view), 0) == ERROR_SUCCESS)
        key.path = Parent(key.path);
}

// Removes the folder and its parents, up to the top of its snapshot tree (that
// one too), while they are empty and were not there before staging.
void RemoveEmptyUp(const Footprint& suite, std::wstring folder, const Snapshot& before)
{
    for (const std::wstring& tree : suite.folderTrees) {
        if (!StartsWith(folder, tree + L"\\")) continue;
        while (folder.size() >= tree.size() && !Had(before, folder) && RemoveDirectoryW(folder.c_str()))
            folder = Parent(folder);
        return;
    }
}

// Puts a value back as the snapshot holds it, or deletes it if it was not there.
void RestoreValue(const ValueItem& value, const Snapshot& before)
{
    win::Key key;
    if (win::OpenKey(value.key.root, value.key.path, KEY_SET_VALUE, value.key.view, key) != ERROR_SUCCESS) return;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (StoredValue(before, ValueName(value), type, data))
        RegSetValueExW(key.get(), value.name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    else
        RegDeleteValueW(key.get(), value.name.c_str());
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

void UninstallProducts(const Footprint& suite)
{
    for (auto product = suite.products.rbegin(); product != suite.products.rend(); ++product) {
        if (!IsRegistered(product->productCode)) continue;
        SwitchOffFailingActions(product->productCode);
        RunAndWait(L"msiexec /x " + std::wstring(product->productCode) + L" /qn");
    }
}

// --- Auditing ------------------------------------------------------------------

// The value lies in a key of the suite's own (then the key speaks for it).
bool InSuiteKey(const Footprint& suite, const ValueItem& value)
{
    for (const KeyItem& key : suite.keys)
        if (key.root == value.key.root && key.view == value.key.view && Names(value.key.path, key.path)) return true;
    return false;
}

// The entry names a footprint item or lies below one.
bool InFootprint(const Footprint& suite, const std::wstring& entry)
{
    for (const KeyItem& key : suite.keys)
        if (Names(entry, KeyName(key))) return true;
    for (const ValueItem& value : suite.values)
        if (Lower(entry) == Lower(ValueName(value))) return true;
    for (const std::wstring& folder : suite.folders)
        if (Names(entry, folder)) return true;
    if (NamesShortcut(suite, entry, false)) return true;
    for (const FileItem& file : suite.files)
        if (Names(entry, file.path)) return true;
    for (const FileItem& file : suite.platformFiles)
        if (Names(entry, Parent(file.path))) return true;
    for (const KeyItem& key : suite.platformKeys)
        if (Lower(entry) == Lower(KeyName(key))) return true;
    for (const FileItem& file : suite.removalWrites)
        if (Lower(entry) == Lower(file.path)) return true;
    return BelowRegistryLink(suite, entry);
}

// The entry is planted data or one of the folders and keys holding it.
bool InPlanted(const Footprint& suite, const std::wstring& entry)
{
    std::vector<std::wstring> items;
    for (const FileItem& file : suite.plantedFiles) items.push_back(file.path);
    for (const LinkItem& link : suite.plantedLinks) items.push_back(link.link);
    for (const KeyItem& key : suite.plantedKeys) items.push_back(KeyName(key));
    for (const ValueItem& value : suite.plantedValues) items.push_back(ValueName(value));
    for (const std::wstring& item : items)
        if (Names(entry, item) || Names(item, entry)) return true;
    return NamesShortcut(suite, entry, true);
}

// Windows Installer creates its own bookkeeping containers (keys and the cache
// folder) on the first installation and keeps them when the last product
// goes; an added container holding no value or file is that and nothing else.
bool IsEmptyInstallerContainer(const std::wstring& entry, const Snapshot& after)
{
    static const std::vector<std::wstring> roots = {
        L"SOFTWARE\\Classes\\Installer", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"};
    bool inRoot = Names(entry, WindowsFolder() + L"\\Installer");
    for (RegView view : Views()) {
        for (const std::wstring& root : roots) inRoot = inRoot || Names(entry, RootName(HKEY_LOCAL_MACHINE, view) + root);
        inRoot = inRoot || Names(entry, RootName(HKEY_CLASSES_ROOT, view) + L"Installer");  // the classes' own view
    }
    if (!inRoot) return false;
    for (auto at = after.lower_bound(entry); at != after.end() && Names(at->first, entry); ++at)
        if (at->second != L"key" && at->second != L"folder") return false;
    return true;
}

// The names under which a registry entry may also be seen: the other view's
// (keys that 64-bit Windows shares between the views appear in both) and,
// below the classes, HKCR's as well as HKLM's.
std::vector<std::wstring> RegistryTwins(const std::wstring& entry)
{
    static const std::wstring kClasses = L"SOFTWARE\\Classes\\";
    std::vector<std::wstring> twins;
    for (RegView view : Views())
        for (RegView other : Views()) {
            const std::wstring hklm = RootName(HKEY_LOCAL_MACHINE, view), hkcr = RootName(HKEY_CLASSES_ROOT, view);
            if (Names(entry, hklm + L"SOFTWARE\\Classes") && entry.size() > hklm.size() + kClasses.size()) {
                const std::wstring below = entry.substr(hklm.size() + kClasses.size());
                twins.push_back(RootName(HKEY_CLASSES_ROOT, other) + below);
                twins.push_back(RootName(HKEY_LOCAL_MACHINE, other) + kClasses + below);
            } else if (entry.rfind(hkcr, 0) == 0) {
                const std::wstring below = entry.substr(hkcr.size());
                twins.push_back(RootName(HKEY_CLASSES_ROOT, other) + below);
                twins.push_back(RootName(HKEY_LOCAL_MACHINE, other) + kClasses + below);
            } else if (entry.rfind(hklm, 0) == 0) {
                twins.push_back(RootName(HKEY_LOCAL_MACHINE, other) + entry.substr(hklm.size()));
            }
        }
    return twins;
}

// Entries added, removed or changed since before, apart from the files named in
// ignoredFiles and Windows Installer's empty containers; with outsideOnly, also
// apart from the footprint and the planted data.
std::vector<std::wstring> Compare(const Footprint& suite, const Snapshot& before,
                                  const std::vector<std::wstring>& extraFolders,
                                  const std::vector<std::wstring>& ignoredFiles, bool outsideOnly)
{
    std::vector<std::wstring> changes;
    std::set<std::wstring> ignored;
    for (const std::wstring& file : ignoredFiles) ignored.insert(Lower(file));
    const Snapshot after = TakeSnapshot(suite, extraFolders);
    auto ours = [&](const std::wstring& name) { return InFootprint(suite, name) || InPlanted(suite, name); };
    auto state = [](const Snapshot& snapshot, const std::wstring& name) {
        auto at = snapshot.find(name);
        return at == snapshot.end() ? std::optional<std::wstring>() : at->second;
    };
    // A twin that came and went with the entry, holding the same, is the same
    // shared key or value seen in another view.
    auto oursShared = [&](const std::wstring& name) {
        for (const std::wstring& twin : RegistryTwins(name))
            if (twin != name && ours(twin) && state(before, twin) == state(before, name) &&
                state(after, twin) == state(after, name))
                return true;
        return false;
    };
    auto compare = [&](const std::wstring& name, const wchar_t* what) {
        if (ignored.count(Lower(name)) || (outsideOnly && (ours(name) || oursShared(name)))) return;
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

// Adds item unless an item already listed contains it (a key or folder above).
void AddUnlessBelow(std::vector<std::wstring>& list, const std::wstring& item)
{
    for (const std::wstring& listed : list)
        if (Names(item, listed)) return;
    list.push_back(item);
}

std::vector<std::wstring> StillPresent(const Footprint& suite, const Snapshot& before)
{
    std::vector<std::wstring> present;
    for (const Product& product : suite.products)
        if (IsRegistered(product.productCode))
            present.push_back(std::wstring(product.name) + L" " + product.productCode +
                              L" is registered with Windows Installer");
    for (const KeyItem& key : suite.keys)
        if (KeyExists(key) && !Had(before, KeyName(key))) AddUnlessBelow(present, KeyName(key));
    for (const ValueItem& value : suite.values)
        if (!InSuiteKey(suite, value) && HoldsLaid(value))
            present.push_back(ValueName(value) + L" = " +
                              (value.type == REG_DWORD ? std::to_wstring(value.number) : value.text));
    for (const std::wstring& folder : suite.folders)
        if (PathExists(folder) && !Had(before, folder)) AddUnlessBelow(present, folder);
    for (const FileItem& file : suite.files)
        if (PathExists(file.path) && !Had(before, file.path)) AddUnlessBelow(present, file.path);
    AuditServices(suite, present);
    AuditPrograms(suite, present);
    return present;
}

std::vector<std::wstring> PendingRestart()
{
    std::vector<std::wstring> pending;
    win::Key key;
    win::OpenKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ, RegView::Native, key);
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return pending;
    std::wstring data(bytes / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                     &bytes);
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < bytes / sizeof(wchar_t);) {
        std::wstring item = data.c_str() + at;
        strings.push_back(item);
        at += item.size() + 1;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].empty()) continue;
        pending.push_back(strings[i + 1].empty() ? L"delete " + strings[i]
                                                 : L"rename " + strings[i] + L" -> " + strings[i + 1]);
    }
    return pending;
}

std::vector<std::wstring> PlantedMissing(const Footprint& suite)
{
    std::vector<std::wstring> missing;
    for (const KeyItem& planted : suite.plantedKeys) {
        win::Key key;
        std::wstring text;
        if (win::OpenKey(planted.root, planted.path, KEY_READ, planted.view, key) != ERROR_SUCCESS ||
            win::ReadString(key.get(), kPlantedValue, text) != ERROR_SUCCESS || text != kPlantedText)
            missing.push_back(KeyName(planted));
    }
    for (const ValueItem& value : suite.plantedValues)
        if (!HoldsLaid(value)) missing.push_back(ValueName(value));
    for (const FileItem& file : suite.plantedFiles)
        if (!PathExists(file.path)) missing.push_back(file.path);
    return missing;
}

}  // namespace

std::vector<std::wstring> Lay(const Footprint& suite)
{
    std::vector<std::wstring> problems;
    for (const std::wstring& package : suite.packages) {
        DWORD code = RunAndWait(L"msiexec /i \"" + package + L"\" /qn");
        if (code != 0) problems.push_back(L"msiexec /i " + package + L" answered " + std::to_wstring(code));
    }
    if (!suite.pathEntry.empty()) {
        DWORD type = REG_EXPAND_SZ;
        std::wstring path = MachinePath(&type);
        if (WithoutPathEntry(path, suite.pathEntry) == path) WriteMachinePath(path + L";" + suite.pathEntry, type);
    }
    LayRegistry(suite, problems);
    // Before the files: the folder links are made by host tools, whose start
    // under Wine closes the registry handles the process holds (docs/wine.md).
    LayRegistryLinks(suite, problems);
    LayUserHives(suite, problems);
    LayFiles(suite, problems);
    LayServices(suite, problems);
    LayPrograms(suite, problems);
    LayShortcuts(suite, problems);
    return problems;
}

void Undo(const Footprint& suite, const Snapshot& before)
{
    UninstallProducts(suite);
    // Before the host's tools run for the folder links: under Wine their start
    // closes the registry handles the process holds (docs/wine.md).
    UndoRegistryLinks(suite);
    UndoUserHives(suite);
    UndoPrograms(suite);
    UndoServices(suite);
    for (const LinkItem& link : suite.plantedLinks) RemoveLink(link.link);
    UndoShortcuts(suite, before);
    // What was there before staging is not the staging's to remove.
    for (const ValueItem& value : suite.values) RestoreValue(value, before);
    for (const KeyItem& key : suite.keys)
        if (!Had(before, KeyName(key))) win::DeleteTree(key.root, key.path, key.view);
    for (const std::wstring& folder : suite.folders)
        if (!Had(before, folder)) win::RemoveTree(folder);
    for (const FileItem& file : suite.files)
        if (!Had(before, file.path)) DeleteFileW(file.path.c_str());

    for (const ValueItem& value : suite.plantedValues) RestoreValue(value, before);
    for (const KeyItem& planted : suite.plantedKeys) win::DeleteTree(planted.root, planted.path, planted.view);
    for (const FileItem& file : suite.platformFiles)
        if (!Had(before, file.path)) DeleteFileW(file.path.c_str());
    for (const FileItem& file : suite.plantedFiles) DeleteFileW(file.path.c_str());
    for (const FileItem& file : suite.removalWrites)
        if (!Had(before, file.path)) DeleteFileW(file.path.c_str());

    // Then the shared keys and folders that staging made and that are empty now.
    for (const std::vector<KeyItem>* keys : {&suite.keys, &suite.plantedKeys})
        for (const KeyItem& key : *keys) DeleteEmptyUp(suite, {key.root, Parent(key.path), key.view}, before);
    for (const KeyItem& key : suite.platformKeys) DeleteEmptyUp(suite, key, before);
    for (const ValueItem& value : suite.values) DeleteEmptyUp(suite, value.key, before);
    for (const std::vector<FileItem>* files : {&suite.files, &suite.platformFiles, &suite.plantedFiles})
        for (const FileItem& file : *files) RemoveEmptyUp(suite, Parent(file.path), before);
    for (const std::wstring& folder : suite.folders) RemoveEmptyUp(suite, Parent(folder), before);

    if (!suite.pathEntry.empty()) {
        DWORD type = REG_EXPAND_SZ;
        std::wstring path = MachinePath(&type);
        if (WithoutPathEntry(path, suite.pathEntry) != path) WriteMachinePath(WithoutPathEntry(path, suite.pathEntry), type);
    }
}

std::vector<std::wstring> ChangesSince(const Footprint& suite, const Snapshot& before,
                                       const std::vector<std::wstring>& extraFolders,
                                       const std::vector<std::wstring>& ignoredFiles)
{
    return Compare(suite, before, extraFolders, ignoredFiles, false);
}

Audit TakeAudit(const Footprint& suite, const Snapshot& before, const std::vector<std::wstring>& extraFolders,
                const std::vector<std::wstring>& ignoredFiles)
{
    Audit audit;
    audit.stillPresent = StillPresent(suite, before);
    audit.pendingRestart = PendingRestart();
    audit.outsideChanged = Compare(suite, before, extraFolders, ignoredFiles, true);
    audit.plantedMissing = PlantedMissing(suite);
    AuditRegistryLinks(suite, audit);
    AuditUserHives(suite, audit);
    AuditShortcuts(suite, audit.stillPresent, audit.plantedMissing);
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
