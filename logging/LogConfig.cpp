#include "LogConfig.h"

#include "LogSinks.h"
#include "Registry.h"

#include <shlobj.h>
#include <userenv.h>

#include <cstdarg>
#include <cstdio>
#include <unordered_map>
#include <vector>

namespace LogUtils {

namespace {
const wchar_t kDiagnosticsKey[] = L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Log";

std::wstring CommonAppDataWithSlash()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    std::wstring folder = path;
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

// Creates every folder of the chain; failures (existing folders) are ignored.
void CreateFolderChain(const std::wstring& path)
{
    size_t first = path.find(L'\\');
    if (first == std::wstring::npos) first = 0;
    for (size_t cut = path.find(L'\\', first + 1); cut != std::wstring::npos; cut = path.find(L'\\', cut + 1))
        CreateDirectoryW(path.substr(0, cut).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

LogSettings ComputeSettings()
{
    LogSettings s;
    s.configFolder = CommonAppDataWithSlash() + L"Zelmar\\Endpoint Guard\\Logcfg";
    s.configFile = s.configFolder + L"\\logcfg.ini";
    s.asynchronous = ReadAsynchronousSwitch(s.configFile);
    s.defaultLogDir = ComputeDefaultLogDirectory();
    return s;
}
}  // namespace

bool DiagnosticsEnabled()
{
    static const bool enabled = [] {
        win::Key key;
        DWORD value = 0;
        return win::OpenKey(HKEY_LOCAL_MACHINE, kDiagnosticsKey, KEY_QUERY_VALUE, win::RegView::Bit64, key) ==
                   ERROR_SUCCESS &&
               win::ReadDword(key.get(), L"dwIsDebugOutputEnabled", value) == ERROR_SUCCESS && value == 1;
    }();
    return enabled;
}

void DebugTrace(const wchar_t* format, ...)
{
    win::LastErrorKeeper keep;
    if (!DiagnosticsEnabled()) return;
    // The prefix (at most 44 characters) and the text (at most 2047) in one buffer.
    wchar_t line[45 + 2048];
    int prefix = _snwprintf(line, 44, L"MyLogger %ld: ", static_cast<long>(GetCurrentThreadId()));
    if (prefix < 0) prefix = 44;
    wchar_t* text = line + prefix;
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, 2047, format, args);
    va_end(args);
    text[2047] = L'\0';
    OutputDebugStringW(line);
}

const LogSettings& Settings()
{
    static const LogSettings settings = ComputeSettings();
    return settings;
}

bool AsynchronousSwitch() noexcept
{
    win::LastErrorKeeper keep;
    try {
        return Settings().asynchronous;
    } catch (...) {
        return false;
    }
}

bool ReadAsynchronousSwitch(const std::wstring& configFile)
{
    return GetPrivateProfileIntW(L"LOGCFG", L"loggingmode", 0, configFile.c_str()) == 1;
}

std::wstring ComputeDefaultLogDirectory()
{
    wchar_t expanded[260] = {};
    // An undefined variable comes back unexpanded; that is no folder to log into.
    if (ExpandEnvironmentStringsForUserW(nullptr, L"%DEFLOGDIR%", expanded, 260) && expanded[0] != L'\0' &&
        wcscmp(expanded, L"%DEFLOGDIR%") != 0) {
        CreateFolderChain(expanded);
        return expanded;
    }
    std::wstring dir = CommonAppDataWithSlash() + L"Zelmar";
    CreateDirectoryW(dir.c_str(), nullptr);
    dir += L"\\Endpoint Guard";
    CreateDirectoryW(dir.c_str(), nullptr);
    dir += L"\\Logs";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

const wchar_t* CompiledLogProperties::Lookup(const wchar_t* key) const
{
    auto it = keys_.find(key);
    return it == keys_.end() ? nullptr : it->second.c_str();
}

void CompiledLogProperties::Compile()
{
    if (const wchar_t* filter = Lookup(L"filter")) filter_ = CompiledFilter(filter);
    if (const wchar_t* encoding = Lookup(L"encoding"))
        encoding_ = *encoding ? EncodingFromName(encoding) : EncodingAnsi;
    if (const wchar_t* type = Lookup(L"type"); type && *type) sinkType_ = SinkTypeFromName(type);
    if (const wchar_t* value = Lookup(L"overrideLocalization"); value && *value)
        overrideLocalization_ = _wcsicmp(value, L"1") == 0 || _wcsicmp(value, L"true") == 0;
}

void CompiledLogProperties::CompileSink(const PropertyLookup& globals)
{
    if (sinkType_ == SinkFile) fileTarget_ = CompileFileTarget(*this, globals);
}

bool LogConfigValidator::Validate(const ICompiledLogProperties& section) const
{
    for (const wchar_t* key : {L"type", L"filter", L"format", L"encoding"}) {
        if (!section.Lookup(key)) return false;
    }
    return true;
}

bool LogConfigFilter::Accept(const ICompiledLogProperties& section) const
{
    const wchar_t* value = section.Lookup(key_.c_str());
    return value && op_ == L'=' && EqualsNoCase(expected_, value);
}

bool PropertyLogConfiguration::ForEach(ActionType& action)
{
    for (auto& [number, section] : sections_) {
        if (action.Invoke(section)) return true;
    }
    return false;
}

CompiledLogProperties* PropertyLogConfiguration::Find(int number)
{
    auto it = sections_.find(number);
    return it == sections_.end() ? nullptr : &it->second;
}

IniLogConfiguration::IniLogConfiguration(std::wstring path, const ILogConfigValidator& validator,
                                         const ILogConfigFilter& filter)
    : path_(std::move(path))
{
    Read();
    for (auto it = sections_.begin(); it != sections_.end();) {
        bool valid = validator.Validate(it->second);
        bool enabled = filter.Accept(it->second);
        if (enabled && !valid)
            DebugTrace(L"Section [%s] of %s lacks one of type, filter, format, encoding: ignored\n",
                       names_[it->first].c_str(), path_.c_str());
        if (!valid || !enabled) {
            it = sections_.erase(it);
        } else {
            it->second.Compile();
            sockaddr_in destination;
            if (it->second.GetSinkType() == SinkSyslog && !SyslogDestination(it->second, destination))
                DebugTrace(L"Section [%s] of %s names no IPv4 server: it sends nothing\n", names_[it->first].c_str(),
                           path_.c_str());
            ++it;
        }
    }
}

void IniLogConfiguration::CompileSinks(const PropertyLookup& globals)
{
    for (auto& [number, section] : sections_) section.CompileSink(globals);
}

void IniLogConfiguration::Read()
{
    // The names must fit; a list cut by the buffer is not trusted.
    std::vector<wchar_t> names;
    bool fitted = false;
    for (DWORD size : {2048u, 4096u, 6144u}) {
        names.assign(size, L'\0');
        DWORD got = GetPrivateProfileSectionNamesW(names.data(), size, path_.c_str());
        if (got != size - 2) {
            fitted = true;
            break;
        }
    }
    if (!fitted) {
        DebugTrace(L"The section names of %s are too long: no section is used\n", path_.c_str());
        return;
    }

    // A name that comes again gets the same answer from the profile functions,
    // each of which looks through the whole file: every name is asked once, so
    // that a file of thousands of repeated sections is read in linear time.
    struct Answer {
        DWORD got;
        std::vector<wchar_t> block;
    };
    std::unordered_map<std::wstring, Answer> answers;
    int number = 0;
    for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1, ++number) {
        auto [it, added] = answers.try_emplace(name);
        Answer& answer = it->second;
        if (added) {
            answer.block.assign(1024, L'\0');
            answer.got = GetPrivateProfileSectionW(name, answer.block.data(), 1024, path_.c_str());
        }
        if (answer.got == 0 || answer.got == 1022) {
            DebugTrace(L"Section [%s] of %s is empty or too long: it and the sections after it are ignored\n", name,
                       path_.c_str());
            return;
        }
        names_[number] = name;
        for (const wchar_t* line = answer.block.data(); *line; line += wcslen(line) + 1) {
            const wchar_t* equals = wcschr(line, L'=');
            if (!equals) continue;  // a line without "=" carries no key
            sections_[number].Set(std::wstring(line, equals), equals + 1);
        }
    }
}

}  // namespace LogUtils
