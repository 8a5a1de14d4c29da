#pragma once
// Facts about the machine and the installed suite.

#include <functional>
#include <string>

#include <windows.h>

// Path buffers of the platform queries, terminator included.
constexpr size_t kPathChars = 260;

// The operating system as the removal steps branch on it. Filled once, at
// construction; a failed version query keeps the initial values.
class winVersion {
public:
    winVersion();
    virtual ~winVersion() = default;

    int OsId() const { return osId_; }
    const std::wstring& VersionText() const { return versionText_; }
    const std::wstring& OsName() const { return osName_; }
    bool IsNT() const { return nt_; }
    int MajorVersion() const { return majorVersion_; }

private:
    int osId_ = 9;
    std::wstring versionText_ = L"Unknown version";
    std::wstring osName_ = L"Unsupported OS";
    bool nt_ = false;
    int majorVersion_ = 1;
};

// The process-wide version record, asked for once (the extended form first,
// the plain one if that fails) and returned as it is on later calls.
const OSVERSIONINFOEXW& GetPlatformVersion();

// True only if the process runs under WOW64. Logs under "AGSCommon" when the
// query is missing (Debug) or fails (Warning).
bool IsWow64();

// Reads the file's FileVersion string: first through the first language and
// code page of its translation table, else through "040904b0". version holds
// what was found (at most 259 characters, possibly empty); it is left untouched
// when no FileVersion could be read. True if the text is not empty.
bool GetFileVersionString(const std::wstring& file, std::wstring& version);

// The FileVersion of the agent's service program in the folder that
// "SOFTWARE\\Zelmar\\ManagedServices" names (an expandable value expanded);
// "10.0.0" when the key, the value, the file or its version resource is missing.
std::wstring GetAgentVersion();

// The same, and whether the text came from the agent's program: false when it
// is the default because the key, the value, the file or its version resource
// is missing (an empty FileVersion counts as read).
bool ReadAgentVersion(std::wstring& version);

// A folder by number: 0 the anti-virus product folder in the program-files
// folder, 1 the program-files folder, 2 the common-files folder (1 and 2 from
// the registry when the shell cannot answer), 3 the system Windows folder, 4
// the system folder, 5 its "Drivers" folder. Empty for other numbers or when
// the folder cannot be found.
std::wstring GetSpecialFolder(int number);

// The system-core component's folder as the registry records it for this
// process's bitness ("szInstallDir64" under WOW64, else "szInstallDir32").
// True if found; path is untouched otherwise.
bool GetZuzadaZoziFolder(std::wstring& path);

// The system-core component's folder below the common-files folder. True if
// the common-files folder is known; path is untouched otherwise. Callers try
// this form first.
bool GetZuzadaZoziFolderFromCommonFiles(std::wstring& path);

// True if the service control manager opens with full access, or Windows has
// no NT kernel.
bool HasAdminRights();

// The final restart request. What ships calls ExitWindowsEx; a test points it
// at a recorder and never restarts the host.
using RestartRequest = BOOL(WINAPI*)(UINT flags, DWORD reason);
extern RestartRequest g_RestartRequest;

// Restarts the machine: on the NT family with the shutdown privilege enabled
// (EWX_REBOOT | EWX_FORCE, only if enabling it left no error) and answering 0;
// elsewhere with EWX_REBOOT, answering the request's result.
int RestartComputer();

// The string of that identifier from the module's string table (the program's
// own when module is null), in the configured user-interface language, else
// the user's default UI language, else its supported base language, else US
// English. Empty when none of them holds the string.
std::wstring LoadLocalizedString(UINT identifier, HMODULE module = nullptr);

// Where the right-to-left check writes its lines: Uprooter's run log.
using RunLogLine = std::function<void(const wchar_t* line)>;

// True if the agent's language export "TarvoAgt_l.Reg" in the current folder
// names Hebrew as its "XmlLanguageID"; language then holds the value as written.
bool IsRTLSupportRequired(std::wstring& language, const RunLogLine& log);

// When the agent's language export names Hebrew: sets the right-to-left flag
// and writes the language back as the agent's "XmlLanguageID".
void SetRtlLanguage(const RunLogLine& log);
