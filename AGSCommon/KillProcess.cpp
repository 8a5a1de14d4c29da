#include "KillProcess.h"

#include "Launch.h"
#include "TimeBudget.h"

#include <psapi.h>

#include <new>

namespace {

constexpr DWORD kCloseWaitMs = 10000;
constexpr DWORD kEndAccess = SYNCHRONIZE | PROCESS_TERMINATE;
constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr size_t kMaxProcessIds = 1024;    // a 4096-byte ID list
constexpr size_t kMaxModules = 1024;       // a 4096-byte module list
constexpr DWORD kImagePathChars = 521;     // the first module's path
constexpr DWORD kModulePathChars = 520;    // paths in the module walk
constexpr wchar_t kTarvoFolder[] = L"\\Tarvo";
constexpr wchar_t kFolderMarks[] = L"\\/:";

#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32W) == 556 && sizeof(MODULEENTRY32W) == 1064);
#endif

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool EqualsIgnoringAsciiCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b)
{
    return EqualsIgnoringAsciiCase(a.data(), a.size(), b.data(), b.size());
}

// The Windows folder followed by "\\Tarvo" begins the image path.
bool IsUnderTarvoFolder(const std::wstring& image)
{
    wchar_t windows[kPathChars] = {};
    UINT n = GetWindowsDirectoryW(windows, kPathChars);
    if (n == 0 || n >= kPathChars) return false;
    std::wstring prefix = std::wstring(windows, n) + kTarvoFolder;
    return image.size() >= prefix.size() &&
           EqualsIgnoringAsciiCase(image.data(), prefix.size(), prefix.data(), prefix.size());
}

// A loaded module is the one asked for when the path asked for contains it or
// equals it without case.
bool ModuleMatches(const std::wstring& asked, const std::wstring& loaded)
{
    return !loaded.empty() && (asked.find(loaded) != std::wstring::npos || EqualsIgnoringAsciiCase(asked, loaded));
}

// Offers one loaded module of a process: if it is the one asked for, the
// decider allows it (asked with shownPath) and the process lives under the
// Tarvo folder (folderImage), the process is ended and result holds the
// outcome. True if an attempt was made, so the process's other modules need
// not be looked at.
bool OfferModule(DWORD processId, const std::wstring& asked, const std::wstring& loaded, const std::wstring& shownPath,
                 const std::wstring& folderImage, const ModuleKillDecider& decider, bool& result)
{
    if (!ModuleMatches(asked, loaded)) return false;
    bool allowed = decider && decider(asked, shownPath) == 1;
    if (!allowed || !IsUnderTarvoFolder(folderImage)) return false;
    result = EndProcessById(processId);
    return true;
}

struct CloseRequest {
    DWORD processId;
    bool sent;
};

BOOL CALLBACK CloseFirstWindow(HWND window, LPARAM context)
{
    auto* request = reinterpret_cast<CloseRequest*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != request->processId) return TRUE;
    PostMessageW(window, WM_CLOSE, 0, 0);
    request->sent = true;
    return FALSE;
}

// Looks every entry point up in the library; on any miss the library is freed
// and every slot cleared.
template <typename... Slots>
bool Resolve(win::Module& library, const wchar_t* file, std::pair<const char*, Slots*>... slots)
{
    library.reset(win::launch::LoadSystemLibrary(file));
    if (!library) return false;
    bool all = true;
    ((*slots.second = reinterpret_cast<Slots>(GetProcAddress(library.get(), slots.first)), all &= *slots.second != nullptr),
     ...);
    if (all) return true;
    ((*slots.second = nullptr), ...);
    library.reset();
    return false;
}

}  // namespace

bool ImageMatchesName(const std::wstring& image, const std::wstring& name)
{
    if (name.empty()) return false;
    if (name.find_first_of(kFolderMarks) != std::wstring::npos) return EqualsIgnoringAsciiCase(image, name);
    size_t cut = image.find_last_of(kFolderMarks);
    size_t start = cut == std::wstring::npos ? 0 : cut + 1;
    return EqualsIgnoringAsciiCase(image.data() + start, image.size() - start, name.data(), name.size());
}

bool EndProcessById(DWORD processId)
{
    win::Handle process(OpenProcess(kEndAccess, FALSE, processId));
    if (!process) return false;
    CloseRequest request{processId, false};
    EnumWindows(CloseFirstWindow, reinterpret_cast<LPARAM>(&request));
    if (request.sent && win::timing::WaitBounded(process.get(), kCloseWaitMs) == WAIT_OBJECT_0) return true;
    return TerminateProcess(process.get(), 0) != FALSE;
}

bool CKillProcBase::KillProcess(const std::wstring& name, bool killAll)
{
    bool ended = false;
    ForEachProcess([&](DWORD processId, const std::wstring& image) {
        if (!ImageMatchesName(image, name) || !EndProcessById(processId)) return true;
        ended = true;
        return killAll;
    });
    return ended;
}

bool CKillProcBase::IsProcessRunning(const std::wstring& name) { return GetProcessId(name) != 0; }

DWORD CKillProcBase::GetProcessId(const std::wstring& name)
{
    DWORD found = 0;
    ForEachProcess([&](DWORD processId, const std::wstring& image) {
        if (!ImageMatchesName(image, name)) return true;
        found = processId;
        return false;
    });
    return found;
}

bool CKillProcNT::Init()
{
    return Resolve(psapi_, L"PsApi.dll", std::pair{"EnumProcesses", &enumProcesses_},
                   std::pair{"EnumProcessModules", &enumProcessModules_},
                   std::pair{"GetModuleFileNameExA", &getModuleFileNameExA_});
}

bool CKillProcNT::ForEachProcess(const ProcessVisitor& visitor)
{
    DWORD ids[kMaxProcessIds] = {};
    DWORD bytes = 0;
    if (!enumProcesses_ || !enumProcesses_(ids, sizeof(ids), &bytes)) return false;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        win::Handle process(OpenProcess(kQueryAccess, FALSE, ids[i]));
        if (!process) continue;
        HMODULE first = nullptr;
        DWORD needed = 0;
        if (!enumProcessModules_(process.get(), &first, sizeof(first), &needed)) continue;
        wchar_t image[kImagePathChars] = {};
        if (GetModuleFileNameExW(process.get(), first, image, kImagePathChars) == 0) continue;
        process.reset();
        if (!visitor(ids[i], image)) break;
    }
    return true;
}

bool CKillProcNT::KillProcessesUsingModule(const std::wstring& modulePath, const ModuleKillDecider& decider)
{
    DWORD ids[kMaxProcessIds] = {};
    DWORD bytes = 0;
    if (!enumProcesses_ || !enumProcesses_(ids, sizeof(ids), &bytes)) return false;
    bool result = false;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        win::Handle process(OpenProcess(kQueryAccess, FALSE, ids[i]));
        if (!process) continue;
        HMODULE modules[kMaxModules] = {};
        DWORD needed = 0;
        if (!enumProcessModules_(process.get(), modules, sizeof(modules), &needed)) continue;
        size_t count = needed / sizeof(HMODULE);
        if (count > kMaxModules) count = kMaxModules;
        std::wstring image;
        for (size_t m = 0; m < count; ++m) {
            wchar_t path[kModulePathChars] = {};
            if (GetModuleFileNameExW(process.get(), modules[m], path, kModulePathChars) == 0) continue;
            if (m == 0) image = path;
            if (OfferModule(ids[i], modulePath, path, image, image, decider, result)) break;
        }
    }
    return result;
}

bool CKillProcTH::Init()
{
    return Resolve(kernel_, L"Kernel32.dll", std::pair{"Process32FirstW", &process32First_},
                   std::pair{"Process32NextW", &process32Next_}, std::pair{"Module32FirstW", &module32First_},
                   std::pair{"Module32NextW", &module32Next_},
                   std::pair{"CreateToolhelp32Snapshot", &createSnapshot_});
}

bool CKillProcTH::ForEachProcess(const ProcessVisitor& visitor)
{
    if (!createSnapshot_) return false;
    win::Handle snapshot(createSnapshot_(TH32CS_SNAPALL, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = process32First_(snapshot.get(), &entry); more; more = process32Next_(snapshot.get(), &entry)) {
        if (!visitor(entry.th32ProcessID, entry.szExeFile)) break;
        entry.dwSize = sizeof(entry);
    }
    return true;
}

bool CKillProcTH::KillProcessesUsingModule(const std::wstring& modulePath, const ModuleKillDecider& decider)
{
    bool result = false;
    ForEachProcess([&](DWORD processId, const std::wstring& image) {
        win::Handle modules(createSnapshot_(TH32CS_SNAPMODULE, processId));
        if (!modules) return true;
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        for (BOOL more = module32First_(modules.get(), &module); more;
             more = module32Next_(modules.get(), &module)) {
            if (OfferModule(processId, modulePath, module.szExePath, module.szExePath, image, decider, result)) break;
            module.dwSize = sizeof(module);
        }
        return true;
    });
    return result;
}

bool CKillProcHolder::GetKiller()
{
    if (killer_) return true;
    std::unique_ptr<CKillProcBase> made;
    if (version_.IsNT()) made.reset(new (std::nothrow) CKillProcNT);
    else made.reset(new (std::nothrow) CKillProcTH);
    if (!made || !made->Init()) return false;
    killer_ = std::move(made);
    return true;
}
