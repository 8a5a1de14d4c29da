#include "Scratch.h"

#include "FileTree.h"

#include <shlobj.h>

namespace testing_support {

namespace {
std::wstring TempDir()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring dir(buffer, n);
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    return dir;
}
}  // namespace

ScratchDir::ScratchDir(const std::wstring& name)
    : path_(TempDir() + L"\\zltest-" + name + L"-" + std::to_wstring(GetCurrentProcessId()))
{
    win::RemoveTree(path_);
    SHCreateDirectoryExW(nullptr, path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() { win::RemoveTree(path_); }

ScratchKey::ScratchKey(HKEY root, const std::wstring& path, win::RegView view) : root_(root), path_(path), view_(view)
{
    win::DeleteTree(root_, path_, view_);
    win::CreateKey(root_, path_, KEY_ALL_ACCESS, view_, key_);
}

ScratchKey::~ScratchKey()
{
    key_.reset();
    win::DeleteTree(root_, path_, view_);
}

DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& currentDir, DWORD timeoutMs)
{
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION raw{};
    std::wstring writable = commandLine;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &raw))
        return 0xFFFFFFFF;
    win::ProcessInformation pi;
    pi.take(raw);
    if (WaitForSingleObject(pi.process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.process.get(), 0xDEAD);
        WaitForSingleObject(pi.process.get(), 5000);
        return 0xFFFFFFFE;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.process.get(), &code);
    return code;
}

std::string ReadFileBytes(const std::wstring& path)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ProgramDir()
{
    wchar_t buffer[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    std::wstring path = buffer;
    return path.substr(0, path.find_last_of(L'\\'));
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace testing_support

namespace testing_support {

std::wstring BuildPath(const std::wstring& relative)
{
    std::wstring dir = ProgramDir() + L"\\";
    size_t tests = dir.rfind(L"\\tests\\");
    return dir.substr(0, tests + 1) + relative;
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name)
{
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), nullptr); }

WineWindowsVersion::WineWindowsVersion(const std::vector<std::wstring>& programs, const wchar_t* version)
{
    for (const std::wstring& program : programs) {
        const std::wstring path = L"Software\\Wine\\AppDefaults\\" + program;
        win::Key key;
        if (win::CreateKey(HKEY_CURRENT_USER, path, KEY_SET_VALUE, win::RegView::Native, key) != ERROR_SUCCESS) continue;
        keys_.push_back(path);
        win::WriteString(key.get(), L"Version", version);
    }
}

WineWindowsVersion::~WineWindowsVersion()
{
    for (const std::wstring& path : keys_) RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

}  // namespace testing_support

namespace testing_support {

MachineLogConfig::MachineLogConfig(const std::string& ini)
{
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    std::wstring folder = common;
    for (const wchar_t* part : {L"\\Zelmar", L"\\Endpoint Guard", L"\\Logcfg"}) {
        folder += part;
        if (CreateDirectoryW(folder.c_str(), nullptr)) made_.push_back(folder);
    }
    file_ = folder + L"\\logcfg.ini";
    WriteFileBytes(file_, ini);
}

MachineLogConfig::~MachineLogConfig()
{
    DeleteFileW(file_.c_str());
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryW(it->c_str());
}

}  // namespace testing_support
