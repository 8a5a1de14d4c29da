#pragma once
// The older suite's folders as the component steps meet them: the recording
// stand-in copied under the suite's program names below the install folder,
// and a removal object whose log lands in the test's scratch folder.

#include "Components.h"
#include "Scratch.h"

#include <shlobj.h>

#include <memory>

namespace component_testing {

using namespace testing_support;
using Lines = std::vector<std::string>;

inline std::wstring ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

inline std::wstring ShortPath(const std::wstring& path)
{
    wchar_t buffer[521] = {};
    GetShortPathNameW(path.c_str(), buffer, 520);
    return buffer;
}

// The install folder and the core cache, emptied before and after the test;
// the "Zelmar" folders go too when nothing else is left in them.
class ComponentStage {
public:
    ScratchDir dir{L"components"};
    const std::wstring programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    const std::wstring install = programFiles + L"\\Zelmar\\Managed Quellor";
    const std::wstring commonFiles = ShellFolder(CSIDL_PROGRAM_FILES_COMMON);
    const std::wstring cache = commonFiles + L"\\Zelmar\\AGSSYSCORE";
    const std::wstring record = dir / L"record.txt";
    ScopedEnv recordEnv{L"ZL_COMPONENT_RECORD", record};

    ComponentStage() { Clear(); }
    ~ComponentStage() { Clear(); }

    // Copies the stand-in to folder\relative, making the folders.
    static std::wstring Place(const std::wstring& folder, const std::wstring& relative)
    {
        const std::wstring target = folder + L"\\" + relative;
        SHCreateDirectoryExW(nullptr, target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
        CopyFileW(BuildPath(L"testbed\\components\\component.exe").c_str(), target.c_str(), FALSE);
        return target;
    }
    std::wstring Stage(const std::wstring& relative) const { return Place(install, relative); }

    Lines Recorded() const { return SplitLines(ReadFileBytes(record)); }

    // A removal object logging to the scratch folder.
    std::unique_ptr<reloUni> MakeUni() const
    {
        auto uni = std::make_unique<reloUni>();
        uni->Log() = dir / L"run.log";
        uni->Log().Open();
        return uni;
    }
    std::string Logged() const { return ReadFileBytes(dir / L"run.log"); }

private:
    void Clear() const
    {
        win::RemoveTree(install);
        win::RemoveTree(cache);
        RemoveDirectoryW((programFiles + L"\\Zelmar").c_str());
        RemoveDirectoryW((commonFiles + L"\\Zelmar").c_str());
    }
};

}  // namespace component_testing
