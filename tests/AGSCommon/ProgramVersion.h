#pragma once
// The Windows version Wine shows one program (by its file name), for the life
// of a scope: how the tests reach the Windows XP and Windows 8 branches.

#include "Registry.h"

#include <string>

namespace testing_support {

class ProgramVersion {
public:
    ProgramVersion(const std::wstring& program, const wchar_t* version)
        : key_(L"Software\\Wine\\AppDefaults\\" + program)
    {
        win::Key key;
        win::CreateKey(HKEY_CURRENT_USER, key_, KEY_SET_VALUE, win::RegView::Native, key);
        win::WriteString(key.get(), L"Version", version);
    }
    ~ProgramVersion() { win::DeleteTree(HKEY_CURRENT_USER, key_, win::RegView::Native); }
    ProgramVersion(const ProgramVersion&) = delete;
    ProgramVersion& operator=(const ProgramVersion&) = delete;

private:
    std::wstring key_;
};

}  // namespace testing_support
