#pragma once
// The removal plan read from "SweeperConfig.xml" beside the program, through
// the MSXML DOM document.

#include "SweeperLog.h"

#include <string>
#include <vector>

namespace sweeper {

// One "UninstallerConfigurationInfo" element.
struct UninstallerConfigurationInfo {
    std::wstring Name;
    std::wstring ProductCode;
    std::wstring Prefix;
    std::vector<std::wstring> InstallerInitiatedProcesses;
    std::vector<std::wstring> MmsServices;
    std::vector<std::wstring> WindowsServices;
    std::vector<std::wstring> Processes;
    std::vector<std::wstring> RefCountBuildValues;  // dependencies only
};

struct SweeperConfiguration {
    std::vector<UninstallerConfigurationInfo> modules;
    std::vector<UninstallerConfigurationInfo> dependencies;
    DWORD uninstallTimeoutMs = 0;
    DWORD sleepTimeSliceMs = 0;  // kept; no step waits on it
};

// The process-wide store, empty until the configuration is read.
SweeperConfiguration& TheConfiguration();

// Splits at the separator; empty pieces are skipped, blanks are kept.
std::vector<std::wstring> SplitList(const std::wstring& text, const std::wstring& separator);

class CSweeperConfigInfoParser {
public:
    CSweeperConfigInfoParser(std::wstring separator, SweeperLog& log) : separator_(std::move(separator)), log_(log) {}
    virtual ~CSweeperConfigInfoParser() = default;

    // Reads "SweeperConfig.xml" beside the program into TheConfiguration(),
    // with COM initialised around it. A missing file is logged and counts as
    // an empty, usable plan. False (logged) when the plan is unusable.
    virtual bool ReadConfiguration();

    // Parses the document text into store; fileName only names it in log lines.
    // Entries read before a fault stay in store. A document object that cannot
    // be created and text that does not parse count as a wrong root element.
    // Needs COM on the calling thread.
    bool ParseText(const std::wstring& text, const wchar_t* fileName, SweeperConfiguration& store);

private:
    std::wstring separator_;
    SweeperLog& log_;
};

}  // namespace sweeper
