#include <gtest/gtest.h>

#include "SweeperTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <regex>

using namespace testing_support;

namespace sweeper_tests {

namespace {
std::wstring GetEnv(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

bool IsRunLogName(const std::wstring& name)
{
    const std::wstring base = L"Zelmar_Endpoint_Sweeper_";
    return name.size() > base.size() && name.compare(0, base.size(), base) == 0 && iswdigit(name[base.size()]);
}
}  // namespace

std::wstring X86Tree() { return ZL_X86_TREE; }
std::wstring X64Tree() { return ZL_X64_TREE; }
std::wstring SuitePackage(const wchar_t* name) { return X86Tree() + L"\\testbed\\sweeper-suite\\" + name + L".msi"; }

TempFolderOverride::TempFolderOverride(const std::wstring& folder) : oldTmp_(GetEnv(L"TMP")), oldTemp_(GetEnv(L"TEMP"))
{
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

TempFolderOverride::~TempFolderOverride()
{
    SetEnvironmentVariableW(L"TMP", oldTmp_.c_str());
    SetEnvironmentVariableW(L"TEMP", oldTemp_.c_str());
}

std::vector<std::wstring> LogFiles(const std::wstring& tempFolder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileW((tempFolder + L"\\ZelmarLogs\\*").c_str(), &data));
    if (!find) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::vector<std::string> LogMessages(const std::wstring& tempFolder)
{
    std::vector<std::string> messages;
    for (const std::wstring& name : LogFiles(tempFolder)) {
        if (!IsRunLogName(name)) continue;
        for (const std::string& line : SplitLines(ReadFileBytes(tempFolder + L"\\ZelmarLogs\\" + name))) {
            const std::string tag = "[SweeperMain] ";
            size_t at = line.find(tag);
            messages.push_back(at == std::string::npos ? line : line.substr(at + tag.size()));
        }
    }
    return messages;
}

namespace {
// '*' stands for any text; everything else is literal.
bool Matches(const std::string& pattern, const std::string& text)
{
    if (pattern.find('*') == std::string::npos) return pattern == text;
    std::string expression;
    for (char c : pattern) {
        if (c == '*')
            expression += ".*";
        else if (std::strchr(".^$|()[]{}+?\\", c))
            expression += std::string("\\") + c;
        else
            expression += c;
    }
    return std::regex_match(text, std::regex(expression));
}
}  // namespace

::testing::AssertionResult ContainsInOrder(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& expected)
{
    size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && Matches(expected[next], line)) ++next;
    if (next == expected.size()) return ::testing::AssertionSuccess();
    std::string found;
    for (const std::string& line : lines) found += "\n    " + line;
    return ::testing::AssertionFailure() << "expected line \"" << expected[next] << "\" (number " << next + 1
                                         << " of the expected sequence) in order; the log holds:" << found;
}

long StepTime(const std::vector<std::string>& lines, const std::string& step, const std::string& part)
{
    const std::string head = "Timing: " + step + " took ";
    for (const std::string& line : lines) {
        const size_t at = line.find(head);
        if (at == std::string::npos) continue;
        const size_t figure = part == "took" ? at + head.size() - 5 : line.find(part + " ", at + head.size());
        if (figure == std::string::npos) return -1;
        return std::strtol(line.c_str() + figure + part.size() + 1, nullptr, 10);
    }
    return -1;
}

void LayOutSweeper(const std::wstring& folder, const std::string& config)
{
    const std::wstring suite = L"\\testbed\\sweeper-suite\\";
    ASSERT_TRUE(CopyFileW((X86Tree() + L"\\sweeper\\Sweeper.exe").c_str(), (folder + L"\\Sweeper.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((X86Tree() + suite + L"Guardswitch_x86.exe").c_str(),
                          (folder + L"\\Guardswitch_x86.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((X64Tree() + suite + L"Guardswitch_x64.exe").c_str(),
                          (folder + L"\\Guardswitch_x64.exe").c_str(), FALSE));
    if (!config.empty()) {
        ASSERT_TRUE(WriteFileBytes(folder + L"\\SweeperConfig.xml", config));
    }
}

void LayOutShipped(const std::wstring& folder)
{
    const std::vector<std::pair<std::wstring, std::wstring>> shipped = {
        {X86Tree() + L"\\uprooter\\Uprooter.exe", L"Uprooter.exe"},
        {X86Tree() + L"\\sweeper\\Sweeper.exe", L"Sweeper.exe"},
        {X86Tree() + L"\\sweeper\\SweeperConfig.xml", L"SweeperConfig.xml"},
        {X86Tree() + L"\\guardswitch\\Guardswitch_x86.exe", L"Guardswitch_x86.exe"},
        {X64Tree() + L"\\guardswitch\\Guardswitch_x64.exe", L"Guardswitch_x64.exe"}};
    for (const auto& [from, name] : shipped)
        ASSERT_TRUE(CopyFileW(from.c_str(), (folder + L"\\" + name).c_str(), FALSE)) << Narrow(from);
}

RunResult RunSweeperIn(const std::wstring& folder, const std::wstring& arguments, const std::wstring& tempFolder,
                       DWORD timeoutMs)
{
    TempFolderOverride temp(tempFolder);
    RunResult result;
    result.exitCode = RunAndWait(L"\"" + folder + L"\\Sweeper.exe\" " + arguments, folder, timeoutMs);
    for (std::string& message : LogMessages(tempFolder))
        (message.rfind("Timing: ", 0) == 0 ? result.times : result.messages).push_back(std::move(message));
    return result;
}

DWORD InstallPackage(const wchar_t* name) { return RunAndWait(L"msiexec /i \"" + SuitePackage(name) + L"\" /qn"); }

DWORD UninstallProduct(const wchar_t* productCode)
{
    return RunAndWait(L"msiexec /x " + std::wstring(productCode) + L" /qn");
}

}  // namespace sweeper_tests
