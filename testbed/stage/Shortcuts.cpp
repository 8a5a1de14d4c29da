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

// A shell link object from shell32's own class factory. CoCreateInstance would
// find the class through the registry handle COM keeps for the whole process,
// and under Wine the start of a host tool (the folder links) closes that
// handle: every later CoCreateInstance fails with REGDB_E_READREGDB.
HRESULT NewShellLink(win::ComPtr<IShellLinkW>& link)
{
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
    const auto get = shell32 ? reinterpret_cast<GetClassObject>(GetProcAddress(shell32, "DllGetClassObject")) : nullptr;
    if (!get) return E_NOINTERFACE;
    win::ComPtr<IClassFactory> factory;
    const HRESULT hr = get(CLSID_ShellLink, IID_IClassFactory, factory.putVoid());
    return FAILED(hr) ? hr : factory->CreateInstance(nullptr, IID_IShellLinkW, link.putVoid());
}

// The failing call and its result, or empty when the link was saved.
std::wstring MakeShortcut(const ShortcutItem& item)
{
    SHCreateDirectoryExW(nullptr, Parent(item.path).c_str(), nullptr);
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    HRESULT hr = NewShellLink(link);
    if (FAILED(hr)) return L"shell link object " + std::to_wstring(hr);
    if (FAILED(hr = link->SetPath(item.target.c_str()))) return L"SetPath " + std::to_wstring(hr);
    if (FAILED(hr = link->SetArguments(item.arguments.c_str()))) return L"SetArguments " + std::to_wstring(hr);
    if (FAILED(hr = link->QueryInterface(IID_IPersistFile, file.putVoid()))) return L"QueryInterface " + std::to_wstring(hr);
    if (FAILED(hr = file->Save(item.path.c_str(), TRUE))) return L"Save " + std::to_wstring(hr);
    return PathExists(item.path) ? L"" : L"no file";
}

// The target the saved link leads to, read back through the shell; empty when
// the file is not a link.
std::wstring TargetOf(const std::wstring& path)
{
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    wchar_t target[MAX_PATH] = {};
    if (FAILED(NewShellLink(link)) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid())) || FAILED(file->Load(path.c_str(), STGM_READ)) ||
        FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)))
        return L"";
    return target;
}

}  // namespace

void LayShortcuts(const Footprint& suite, std::vector<std::wstring>& problems)
{
    // No single-threaded apartment: its hidden window's creation was seen to
    // hang under emulation while the stand-ins' windows were up.
    win::ComInit com(COINIT_MULTITHREADED);
    for (const std::vector<ShortcutItem>* items : {&suite.shortcuts, &suite.plantedShortcuts})
        for (const ShortcutItem& item : *items)
            if (std::wstring failed = MakeShortcut(item); !failed.empty())
                problems.push_back(L"cannot make the shell link " + item.path + L": " + failed);
            else if (Lower(TargetOf(item.path)) != Lower(item.target))
                problems.push_back(L"the shell link " + item.path + L" leads elsewhere: " + TargetOf(item.path));
}

void AuditShortcuts(const Footprint& suite, std::vector<std::wstring>& stillPresent,
                    std::vector<std::wstring>& plantedMissing)
{
    win::ComInit com(COINIT_MULTITHREADED);
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
