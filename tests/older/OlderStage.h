#pragma once
// What the older suite's tests share: the testbed's programs the footprint
// copies, the staging undone at scope end, and a look-up in the audit's lists.

#include "Scratch.h"
#include "SuiteStage.h"

#include <algorithm>
#include <string>
#include <vector>

namespace older_tests {

// The testbed's stand-ins from the build tree; the 64-bit COM server lies in
// the other architecture's tree beside this one. records: where the running
// stand-ins write (empty: nowhere).
inline stage::OlderSources TestbedSources(const std::wstring& records = L"")
{
    using testing_support::BuildPath;
    std::wstring comServer64 = BuildPath(L"testbed\\comserver\\comserver.dll");
    comServer64.replace(comServer64.rfind(L"\\x86\\"), 5, L"\\x64\\");
    return {BuildPath(L"testbed\\agent\\tvAgtSvc_older.exe"), BuildPath(L"testbed\\defender\\MpClient.dll"),
            BuildPath(L"testbed\\service\\zlservice.exe"),    BuildPath(L"testbed\\components\\component.exe"),
            BuildPath(L"testbed\\windowed\\windowed.exe"),    BuildPath(L"testbed\\comserver\\comserver.dll"),
            comServer64,                                        records};
}

// Undoes the staging at scope end, whatever the run left.
class StagingUndo {
public:
    StagingUndo(const stage::Footprint& suite, const stage::Snapshot& before) : suite_(suite), before_(before) {}
    ~StagingUndo() { stage::Undo(suite_, before_); }
    StagingUndo(const StagingUndo&) = delete;
    StagingUndo& operator=(const StagingUndo&) = delete;

private:
    const stage::Footprint& suite_;
    const stage::Snapshot& before_;
};

// A snapshot kept in a file between the phases of a test, as UTF-8.
inline std::string Utf8(const std::wstring& text)
{
    std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr),
                      '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                        static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

inline std::wstring Wide(const std::string& bytes)
{
    std::wstring text(MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), static_cast<int>(bytes.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), static_cast<int>(bytes.size()), text.data(),
                        static_cast<int>(text.size()));
    return text;
}

// Whether any listed item contains text.
inline bool Mentions(const std::vector<std::wstring>& list, const std::wstring& text)
{
    return std::any_of(list.begin(), list.end(), [&](const std::wstring& item) { return item.find(text) != std::wstring::npos; });
}

// The firewall generations' programs as the removal starts them (the
// recording stand-in's lines "<image>: <short|long> <command line>"): what is
// missing of them, one line each.
inline std::vector<std::string> MissingFirewallLaunches(const std::vector<std::string>& recorded)
{
    struct Launch {
        const char* image;
        const char* fragment;
        size_t count;  // the Tarvo variant and the managed one each start theirs
    };
    static const Launch kLaunches[] = {
        {"zlPfwTray.exe", "  -shutdown", 2},
        {"zlPfwAgent.exe", " /INVOKE:Shutdown:NoPrompt", 2},
        {"zlPfwConfig.exe", "  -d ", 2},
        {"zlPfpTray.exe", " -shutdown", 1},
        {"zlFwApiUninstall.exe", "zlFwApiUninstall.exe\" /silent", 1},
        {"zlInstall.exe", "\\Personal Firewall Plus\\zlFwApi.inf\" /uninstall", 1},
        {"zlInstall.exe", "\\Intrulog\\zlIlApi.inf\" /Uninstall", 1},
    };
    std::vector<std::string> missing;
    for (const Launch& launch : kLaunches) {
        const std::string start = std::string(launch.image) + ": ";
        const size_t found = static_cast<size_t>(std::count_if(recorded.begin(), recorded.end(), [&](const std::string& line) {
            return line.rfind(start, 0) == 0 && line.find(launch.fragment) != std::string::npos;
        }));
        if (found != launch.count)
            missing.push_back(start + "..." + launch.fragment + ": " + std::to_string(found) + " of " +
                              std::to_string(launch.count));
    }
    return missing;
}

}  // namespace older_tests
