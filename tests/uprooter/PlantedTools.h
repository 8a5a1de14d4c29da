#pragma once
// Recording stand-ins planted under the names of system tools where a search
// by bare name would find them first: the current folder and the folder of the
// running test program (Uprooter's own folder in the shipped program). A tool
// started by its full system path never starts one of them.
#include "Scratch.h"

#include <initializer_list>

namespace testing_support {

class PlantedTools {
public:
    explicit PlantedTools(std::initializer_list<const wchar_t*> names)
    {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        SetCurrentDirectoryW(current_.path().c_str());
        const std::wstring standIn = BuildPath(L"testbed\\windowed\\windowed.exe");
        for (const wchar_t* name : names)
            for (const std::wstring& folder : {current_.path(), ProgramDir()})
                if (CopyFileW(standIn.c_str(), (folder + L"\\" + name).c_str(), FALSE))
                    planted_.push_back(folder + L"\\" + name);
    }
    ~PlantedTools()
    {
        SetCurrentDirectoryW(previous_);
        for (const std::wstring& file : planted_) DeleteFileW(file.c_str());
    }
    PlantedTools(const PlantedTools&) = delete;
    PlantedTools& operator=(const PlantedTools&) = delete;

    size_t Planted() const { return planted_.size(); }
    // What the planted tools recorded: empty when none of them started.
    std::string Started() const { return ReadFileBytes(record_); }

private:
    ScratchDir current_{L"planted"};
    std::wstring record_ = current_ / L"started.txt";
    ScopedEnv record_env_{L"ZL_WINDOWED_RECORD", record_};
    ScopedEnv windows_{L"ZL_WINDOWED_WINDOWS", L"0"};
    ScopedEnv life_{L"ZL_WINDOWED_LIFE_MS", L"0"};
    wchar_t previous_[MAX_PATH] = {};
    std::vector<std::wstring> planted_;
};

}  // namespace testing_support
