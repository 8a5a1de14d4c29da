#include "FileTree.h"

#include "Removal.h"

namespace win {

void RemoveTree(const std::wstring& path)
{
    removal::RemoveFolderTree(path, removal::Guard::Standard, removal::InUse::Fail);
}

}  // namespace win
