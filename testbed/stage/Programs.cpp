// A footprint's running programs: started on Lay with the environment they
// need, taken as started once their windows exist; reported while they run,
// ended on Undo. The processes this one started stay open, so that their exit
// codes can be read once a run has ended them.
#include "Places.h"
#include "Running.h"
#include "SuiteStage.h"

#include <tlhelp32.h>

#include <optional>

namespace stage {

namespace {

constexpr DWORD kReadyMs = 15000;
constexpr DWORD kEndMs = 5000;

struct Started {
    std::wstring path;
    win::Handle process;
};

std::vector<Started>& StartedPrograms()
{
    static std::vector<Started> started;
    return started;
}

// Sets environment variables for the scope, then puts back what was there.
class ScopedVariables {
public:
    void Set(const std::wstring& name, const std::wstring& value)
    {
        wchar_t buffer[4096] = {};
        const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 4096);
        saved_.push_back({name, n > 0 && n < 4096 ? std::optional<std::wstring>(buffer) : std::nullopt});
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~ScopedVariables()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

std::wstring ImagePath(HANDLE process)
{
    wchar_t path[MAX_PATH * 2] = {};
    DWORD chars = MAX_PATH * 2;
    return QueryFullProcessImageNameW(process, 0, path, &chars) ? std::wstring(path, chars) : std::wstring();
}

// Calls found(process) for each process that runs the program.
template <class Found>
void ForEachProcessOf(const std::wstring& program, Found found)
{
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        win::Handle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && Lower(ImagePath(process.get())) == Lower(program)) found(process.get());
    }
}

bool LayProgram(const ProgramItem& item, DWORD index)
{
    const std::wstring ready = L"ZlStageReady" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(index);
    win::Handle event(CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    if (!event) return false;
    PROCESS_INFORMATION pi{};
    {
        ScopedVariables variables;
        for (const auto& [name, value] : item.environment) variables.Set(name, value);
        variables.Set(item.readyVariable, ready);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + item.path + L"\"";
        if (!CreateProcessW(item.path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &pi))
            return false;
    }
    win::ProcessInformation child;
    child.take(pi);
    HANDLE waited[] = {event.get(), child.process.get()};
    const bool started = WaitForMultipleObjects(2, waited, FALSE, kReadyMs) == WAIT_OBJECT_0;
    StartedPrograms().push_back({item.path, std::move(child.process)});
    return started;
}

}  // namespace

bool IsRunning(const std::wstring& program)
{
    bool running = false;
    ForEachProcessOf(program, [&](HANDLE) { running = true; });
    return running;
}

void EndProcessesOf(const std::wstring& program)
{
    ForEachProcessOf(program, [](HANDLE process) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, kEndMs);
    });
}

void LayPrograms(const Footprint& suite, std::vector<std::wstring>& problems)
{
    DWORD index = 0;
    for (const ProgramItem& item : suite.programs)
        if (!LayProgram(item, index++)) problems.push_back(L"cannot start " + item.path + L" with its window");
}

void AuditPrograms(const Footprint& suite, std::vector<std::wstring>& present)
{
    for (const ProgramItem& item : suite.programs)
        if (IsRunning(item.path)) present.push_back(L"program " + item.path + L" (running)");
}

void UndoPrograms(const Footprint& suite)
{
    for (const ProgramItem& item : suite.programs) EndProcessesOf(item.path);
    StartedPrograms().clear();
}

bool ProgramExitCode(const ProgramItem& program, DWORD& code)
{
    for (const Started& started : StartedPrograms())
        if (Lower(started.path) == Lower(program.path))
            return GetExitCodeProcess(started.process.get(), &code) && code != STILL_ACTIVE;
    return false;
}

}  // namespace stage
