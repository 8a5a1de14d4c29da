#include "SuiteFolders.h"

#include "FolderValue.h"
#include "PlatformInfo.h"

namespace {

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kSuiteFolder[] = L"\\Zelmar";

void AddSuiteFolder(std::vector<std::wstring>& folders, std::wstring parent)
{
    while (!parent.empty() && parent.back() == L'\\') parent.pop_back();
    // Without the parent, "\Zelmar" would name a folder of the current drive's root.
    if (!parent.empty()) folders.push_back(parent + kSuiteFolder);
}

}  // namespace

std::vector<std::wstring> SuiteFolders()
{
    std::vector<std::wstring> folders;
    AddSuiteFolder(folders, GetSpecialFolder(1));
    AddSuiteFolder(folders, GetSpecialFolder(2));
    if (IsWow64()) {
        for (const wchar_t* name : {L"ProgramFilesDir", L"CommonFilesDir"}) {
            std::wstring parent;
            if (ReadFolderValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name, kPathChars, win::RegView::Bit64,
                                parent) == ERROR_SUCCESS)
                AddSuiteFolder(folders, parent);
        }
    }
    return folders;
}
