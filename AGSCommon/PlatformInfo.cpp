#include "PlatformInfo.h"

#include "Handle.h"
#include "Registry.h"

#include <cstdio>
#include <vector>

namespace {

constexpr wchar_t kDefaultAgentVersion[] = L"10.0.0";
constexpr wchar_t kManagedServicesKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kAgentProgram[] = L"\\Agent\\tvAgtSvc.exe";

bool QueryFileVersion(std::vector<BYTE>& block, const wchar_t* subBlock, std::wstring& version)
{
    void* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(block.data(), subBlock, &value, &chars) || value == nullptr) return false;
    std::wstring text(static_cast<const wchar_t*>(value), wcsnlen(static_cast<const wchar_t*>(value), chars));
    if (text.size() > kPathChars - 1) text.resize(kPathChars - 1);
    version = text;
    return true;
}

}  // namespace

bool GetFileVersionString(const std::wstring& file, std::wstring& version)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return false;

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT bytes = 0;
    bool found = false;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &bytes) &&
        bytes >= sizeof(Translation)) {
        wchar_t subBlock[64];
        _snwprintf(subBlock, 63, L"\\StringFileInfo\\%04x%04x\\FileVersion", translations[0].language,
                   translations[0].codePage);
        subBlock[63] = L'\0';
        found = QueryFileVersion(block, subBlock, version);
    }
    if (!found) found = QueryFileVersion(block, L"\\StringFileInfo\\040904b0\\FileVersion", version);
    return found && !version.empty();
}

std::wstring GetAgentVersion()
{
    std::wstring version = kDefaultAgentVersion;
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kManagedServicesKey, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS)
        return version;
    std::wstring folder;
    if (win::ReadString(key.get(), L"szInstallDir", folder) != ERROR_SUCCESS || folder.size() > kPathChars - 1)
        return version;
    // A found but empty FileVersion empties the text, which then counts as the older suite.
    GetFileVersionString(folder + kAgentProgram, version);
    return version;
}
