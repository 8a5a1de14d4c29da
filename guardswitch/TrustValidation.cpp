#include "TrustValidation.h"

#include "DllSearch.h"
#include "Handle.h"

#include <cwchar>
#include <string>

namespace {

constexpr size_t kInstallDirUnits = 100;

bool Trusted(const ZlTrustRecord* record)
{
    return record && (record->trustFlags & kTrustVerified) && (record->publisherFlags & kTrustPublisherZelmar);
}

// Windows 2000 knows no registry views.
bool IsWindows2000()
{
    DWORD version = GetVersion();
    return LOBYTE(LOWORD(version)) == 5 && HIBYTE(LOWORD(version)) == 0;
}

// Reads the registered install folder: 0, ERROR_MORE_DATA when it does not fit
// in kInstallDirUnits with its terminator, or another status when it cannot be
// read at all.
DWORD ReadInstallFolder(std::wstring& folder)
{
    // Opened directly: the shared registry helpers bring in functions that
    // Windows XP lacks.
    win::Key key;
    REGSAM access = IsWindows2000() ? KEY_READ : KEY_READ | KEY_WOW64_32KEY;
    if (LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", 0, access, key.put()))
        return status;
    wchar_t value[kInstallDirUnits] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(value);
    if (LONG status = RegQueryValueExW(key.get(), L"szInstallDir64", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                       &bytes))
        return status;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    size_t length = wcsnlen(value, bytes / sizeof(wchar_t));
    if (length >= kInstallDirUnits) return ERROR_MORE_DATA;  // stored without its terminator
    folder.assign(value, length);
    return 0;
}

// A drive and its root, or a UNC or device path: nothing the current folder
// completes.
bool IsFullPath(const std::wstring& folder)
{
    wchar_t drive = folder.empty() ? L'\0' : static_cast<wchar_t>(folder[0] | 0x20);
    if (folder.size() >= 3 && drive >= L'a' && drive <= L'z' && folder[1] == L':' && folder[2] == L'\\') return true;
    return folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\';
}

// 0 and the library's path: in the registered install folder, or the bare
// name when no folder can be read and the current folder is out of the DLL
// search. Otherwise ERROR_MOD_NOT_FOUND: the folder, or the folder with the
// name, does not fit in 99 characters (a cut path names another file); the
// folder is not a full path (the caller's current folder would complete it);
// the bare name would be looked for in the caller's current folder.
DWORD LibraryPath(std::wstring& path)
{
    const std::wstring name = L"zlmtrust.dll";
    std::wstring folder;
    DWORD read = ReadInstallFolder(folder);
    if (read == ERROR_MORE_DATA) return ERROR_MOD_NOT_FOUND;
    if (read != 0) {
        if (!CurrentFolderOutOfDllSearch()) return ERROR_MOD_NOT_FOUND;
        path = name;
        return 0;
    }
    std::wstring full = folder + L"\\" + name;
    if (!IsFullPath(folder) || full.size() > kInstallDirUnits - 1) return ERROR_MOD_NOT_FOUND;
    path = full;
    return 0;
}

}  // namespace

TrustValidation::~TrustValidation()
{
    control_.reset();
    done_ = false;
    status_ = 0;
}

DWORD TrustValidation::Load()
{
    win::Lock lock(lock_);
    if (!done_) {
        done_ = true;
        status_ = LoadControl();
    }
    return status_;
}

DWORD TrustValidation::LoadControl()
{
    std::wstring path;
    if (DWORD status = LibraryPath(path)) return status;
    win::Module library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
    auto get = reinterpret_cast<GetTrustInterfaceFn>(GetProcAddress(library.get(), "GetTrustInterface"));
    if (!get) return GetLastError() ? GetLastError() : ERROR_PROC_NOT_FOUND;
    void* control = nullptr;
    DWORD status = get(kTrustInterfaceName, &control);
    if (status == 0 && !control) status = ERROR_ACCESS_DENIED;
    if (status == 0) control_.reset(static_cast<ITrustValidationControl*>(control));
    // The library keeps itself loaded for the interface it gave out.
    return status;
}

DWORD TrustValidation::ValidateFile(const wchar_t* path)
{
    if (DWORD status = Load()) return status;
    IZlTrustResult* raw = nullptr;
    DWORD status = control_->ValidateFile(path, kTrustCheckSignature, &raw);
    std::unique_ptr<IZlTrustResult, Releaser> result(raw);
    if (status != 0) return status;
    return result && Trusted(result->Record()) ? 0 : ERROR_ACCESS_DENIED;
}

DWORD TrustValidation::ValidateProcess(DWORD processId)
{
    if (processId == 4) return ERROR_ACCESS_DENIED;
    if (DWORD status = Load()) return status;
    IZlTrustResultList* raw = nullptr;
    DWORD status = control_->ValidateProcess(processId, kTrustCheckSignature, &raw);
    std::unique_ptr<IZlTrustResultList, Releaser> modules(raw);
    if (status != 0) return status;
    if (!modules || modules->Count() <= 2) return ERROR_ACCESS_DENIED;
    for (ULONG i = 0; i < modules->Count(); ++i)
        if (!Trusted(modules->Item(i))) return ERROR_ACCESS_DENIED;
    return 0;
}

TrustValidation& ProcessTrust()
{
    static TrustValidation trust;
    return trust;
}
