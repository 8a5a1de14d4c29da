#pragma once
// The suite's trust library laid out as an installation registers it: a
// folder named by "szInstallDir64" under HKLM "Software\Zelmar\ZuzadaZozi" in
// the 32-bit view, holding the stand-in chosen by the test.

#include "Scratch.h"

#include <gtest/gtest.h>

#include <optional>

namespace testing_support {

// The same folder named with length characters, padded with "\." steps.
inline std::wstring Lengthened(std::wstring folder, size_t length)
{
    if ((length - folder.size()) % 2) folder += L"\\";
    while (folder.size() < length) folder += L"\\.";
    return folder;
}

// HKLM "Software\Zelmar\ZuzadaZozi" in the 32-bit view, fresh, removed at
// scope end together with "Software\Zelmar" when nothing else is left there.
class TrustKey {
public:
    TrustKey() { key_.emplace(HKEY_LOCAL_MACHINE, L"Software\\Zelmar\\ZuzadaZozi", win::RegView::Bit32); }
    ~TrustKey()
    {
        key_.reset();
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Zelmar", KEY_WOW64_32KEY, 0);
    }
    TrustKey(const TrustKey&) = delete;
    TrustKey& operator=(const TrustKey&) = delete;

    // Registers folder as the install folder (as given, no backslash added).
    void Register(const std::wstring& folder)
    {
        ASSERT_EQ(win::WriteString(key_->get(), L"szInstallDir64", folder), ERROR_SUCCESS);
    }

private:
    std::optional<ScratchKey> key_;
};

class TrustInstall {
public:
    explicit TrustInstall(const std::wstring& folder) : folder_(folder)
    {
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    TrustInstall(const TrustInstall&) = delete;
    TrustInstall& operator=(const TrustInstall&) = delete;

    const std::wstring& folder() const { return folder_; }

    void Register() { key_.Register(folder_); }
    // Registers another value in the folder's place.
    void Register(const std::wstring& value) { key_.Register(value); }

    // Lays a build of the stand-in ("zlmtrust" or "zlmtrust_noexport") into
    // folder as "zlmtrust.dll".
    static void Lay(const std::wstring& folder, const wchar_t* build = L"zlmtrust")
    {
        std::wstring from = BuildPath(std::wstring(L"testbed\\suite\\") + build + L".dll");
        ASSERT_TRUE(CopyFileW(from.c_str(), (folder + L"\\zlmtrust.dll").c_str(), FALSE))
            << "cannot copy " << Narrow(from) << ": " << GetLastError();
    }
    void Lay(const wchar_t* build = L"zlmtrust") { Lay(folder_, build); }

private:
    std::wstring folder_;
    TrustKey key_;
};

}  // namespace testing_support
