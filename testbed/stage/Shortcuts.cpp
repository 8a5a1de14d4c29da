// Shell links as a Windows installation makes them: IShellLinkW saved through
// IPersistFile, so the removal meets real .lnk files.
#include "Shortcuts.h"

#include "Com.h"
#include "Handle.h"
#include "Places.h"
#include "Snapshot.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace stage {

namespace {

bool MakeShortcut(const ShortcutItem& item)
{
    SHCreateDirectoryExW(nullptr, Parent(item.path).c_str(), nullptr);
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      link.putVoid())) &&
           SUCCEEDED(link->SetPath(item.target.c_str())) && SUCCEEDED(link->SetArguments(item.arguments.c_str())) &&
           SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.putVoid())) &&
           SUCCEEDED(file->Save(item.path.c_str(), TRUE)) && PathExists(item.path);
}

// The target the saved link leads to, read back through the shell; empty when
// the file is not a link.
std::wstring TargetOf(const std::wstring& path)
{
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    wchar_t target[MAX_PATH] = {};
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid())) || FAILED(file->Load(path.c_str(), STGM_READ)) ||
        FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)))
        return L"";
    return target;
}

}  // namespace

void LayShortcuts(const Footprint& suite, std::vector<std::wstring>& problems)
{
    win::ComInit com;
    for (const std::vector<ShortcutItem>* items : {&suite.shortcuts, &suite.plantedShortcuts})
        for (const ShortcutItem& item : *items)
            if (!MakeShortcut(item) || Lower(TargetOf(item.path)) != Lower(item.target))
                problems.push_back(L"cannot make the shell link " + item.path);
}

void AuditShortcuts(const Footprint& suite, std::vector<std::wstring>& stillPresent,
                    std::vector<std::wstring>& plantedMissing)
{
    win::ComInit com;
    for (const ShortcutItem& item : suite.shortcuts)
        if (PathExists(item.path)) stillPresent.push_back(item.path);
    for (const ShortcutItem& item : suite.plantedShortcuts)
        if (Lower(TargetOf(item.path)) != Lower(item.target)) plantedMissing.push_back(item.path);
}

void UndoShortcuts(const Footprint& suite, const Snapshot& before)
{
    for (const std::vector<ShortcutItem>* items : {&suite.shortcuts, &suite.plantedShortcuts})
        for (const ShortcutItem& item : *items) {
            if (!Had(before, item.path)) DeleteFileW(item.path.c_str());
            const std::wstring folder = Parent(item.path);
            if (!Had(before, folder)) RemoveDirectoryW(folder.c_str());
        }
}

bool NamesShortcut(const Footprint& suite, const std::wstring& entry, bool planted)
{
    for (const ShortcutItem& item : planted ? suite.plantedShortcuts : suite.shortcuts)
        if (Names(entry, item.path) || (planted && Names(item.path, entry))) return true;
    return false;
}

}  // namespace stage
