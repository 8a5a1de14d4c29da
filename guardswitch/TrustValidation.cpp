#include "TrustValidation.h"

#include "Handle.h"

#include <algorithm>
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

// The install folder's library, cut to 99 characters as a whole, or the bare
// name when the folder is not registered.
std::wstring LibraryPath()
{
    const std::wstring name = L"zlmtrust.dll";
    // Opened directly: the shared registry helpers bring in functions that
    // Windows XP lacks.
    win::Key key;
    REGSAM access = IsWindows2000() ? KEY_READ : KEY_READ | KEY_WOW64_32KEY;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", 0, access, key.put()) != ERROR_SUCCESS)
        return name;
    wchar_t folder[kInstallDirUnits] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(folder);
    if (RegQueryValueExW(key.get(), L"szInstallDir64", nullptr, &type, reinterpret_cast<BYTE*>(folder), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return name;
    folder[kInstallDirUnits - 1] = L'\0';
    std::wstring path = folder;
    path += L"\\" + name;
    path.resize(std::min(path.size(), kInstallDirUnits - 1));
    return path;
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
        win::Module library(LoadLibraryExW(LibraryPath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (!library) {
            status_ = GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
        } else if (auto get = reinterpret_cast<GetTrustInterfaceFn>(GetProcAddress(library.get(), "GetTrustInterface"));
                   !get) {
            status_ = GetLastError() ? GetLastError() : ERROR_PROC_NOT_FOUND;
        } else {
            void* control = nullptr;
            status_ = get(kTrustInterfaceName, &control);
            if (status_ == 0 && !control) status_ = ERROR_ACCESS_DENIED;
            if (status_ == 0) control_.reset(static_cast<ITrustValidationControl*>(control));
        }
        // The library keeps itself loaded for the interface it gave out.
    }
    return status_;
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
