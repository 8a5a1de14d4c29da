#pragma once
// A run log in a scratch folder, read back as its message lines (banners left out).

#include "LogFile.h"
#include "Scratch.h"

#include <string>
#include <vector>

class RunLogCapture {
public:
    explicit RunLogCapture(const wchar_t* name) : dir_(name)
    {
        log_ = path_;
        log_.Open();
    }
    CLogFile& log() { return log_; }
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        for (const std::string& line : testing_support::SplitLines(testing_support::ReadFileBytes(path_)))
            if (line.find("logfile object: ") == std::string::npos) lines.push_back(line);
        return lines;
    }

private:
    testing_support::ScratchDir dir_;
    std::wstring path_ = dir_ / L"Uprooter.log";
    CLogFile log_;
};
