#pragma once
// Guardswitch staged as an installation has it: the program beside its
// caller, the suite's framework and variant libraries in the platform folder,
// the trust library in the folder the registry names. A parent stand-in,
// copied under the caller's name, starts it as Sweeper does: DLL folder set to
// the platform folder, program named without a folder.

#include "DbWinListener.h"
#include "SuiteStage.h"

#include <algorithm>

namespace testing_support {

constexpr DWORD kRefused = 0xFFFFFFFF;

inline std::string Dump(const std::vector<std::string>& lines)
{
    std::string all;
    for (auto& l : lines) all += "  | " + l + "\n";
    return all.empty() ? "  (nothing)\n" : all;
}

// A file of the build tree of the other architecture ("x86" or "x64").
inline std::wstring BuildPathOf(const std::wstring& arch, const std::wstring& relative)
{
    std::wstring path = BuildPath(relative);
    size_t at = path.rfind(L"\\" ZL_ARCH_W L"\\");
    return at == std::wstring::npos ? path : path.replace(at + 1, arch.size(), arch);
}

inline std::wstring PathVariable()
{
    std::wstring value(32767, L'\0');
    value.resize(GetEnvironmentVariableW(L"PATH", value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Puts a folder in front of PATH for the life of a scope, and restores PATH.
class PathPrefix {
public:
    explicit PathPrefix(const std::wstring& folder) : old_(PathVariable())
    {
        SetEnvironmentVariableW(L"PATH", (folder + L";" + old_).c_str());
    }
    ~PathPrefix() { Drop(); }
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;
    void Drop() { SetEnvironmentVariableW(L"PATH", old_.c_str()); }

private:
    std::wstring old_;
};

class GuardswitchRun : public ::testing::Test {
protected:
    ScratchDir root{L"guardswitch"};
    std::wstring app = root / L"app";
    std::wstring platform = root / L"platform";
    // Windows carries a parent's DLL folder into its children, Wine does not:
    // the platform folder on PATH lets the loader find the libraries on both.
    PathPrefix platformOnPath{platform};
    TrustInstall trust{root / L"trust"};
    std::wstring frameworkLog = root / L"framework.txt";
    std::wstring trustLog = root / L"trust.txt";
    ScopedEnv frameworkVariable{L"ZL_BIZ_LOG", frameworkLog};
    ScopedEnv trustVariable{L"ZL_TRUST_LOG", trustLog};
    DbWinListener output;
    std::wstring program;  // "Guardswitch_x64.exe" or "Guardswitch_x86.exe"
    DWORD parentId = 0;    // of the last run

    void SetUp() override
    {
        ASSERT_TRUE(output.ok()) << "cannot listen to the debugger output";
        CreateDirectoryW(app.c_str(), nullptr);
        CreateDirectoryW(platform.c_str(), nullptr);
        Stage(ZL_ARCH_W);
    }

    // Lays Guardswitch and the suite's libraries of one architecture.
    void Stage(const std::wstring& arch)
    {
        program = L"Guardswitch_" + arch + L".exe";
        Copy(BuildPathOf(arch, L"guardswitch\\" + program), app + L"\\" + program);
        for (auto name : {L"zlbizframework.dll", L"ZlVariantExport.dll"})
            Copy(BuildPathOf(arch, std::wstring(L"testbed\\suite\\") + name), platform + L"\\" + name);
        Copy(BuildPathOf(arch, L"logging\\LogLib.dll"), platform + L"\\LogLib.dll");
        Copy(BuildPathOf(arch, L"testbed\\suite\\zlmtrust.dll"), trust.folder() + L"\\zlmtrust.dll");
        trust.Register();
    }

    static void Copy(const std::wstring& from, const std::wstring& to)
    {
        ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE))
            << "cannot copy " << Narrow(from) << ": " << GetLastError();
    }

    // Lays the parent stand-in of an architecture under a caller's name.
    void AddParent(const std::wstring& name, const std::wstring& arch = ZL_ARCH_W)
    {
        Copy(BuildPathOf(arch, L"testbed\\parent\\parent.exe"), app + L"\\" + name);
    }

    // Starts "<parent> /dlldir <platform> <options> <program> <arguments>" from
    // the scratch root and returns the parent's exit code, which is
    // Guardswitch's full exit code.
    DWORD RunFrom(const std::wstring& parent, const std::wstring& arguments, const std::wstring& options = L"")
    {
        if (!FileExists(app + L"\\" + parent)) AddParent(parent);
        std::wstring line = L"\"" + app + L"\\" + parent + L"\" /dlldir \"" + platform + L"\" " + options +
                            (options.empty() ? L"" : L" ") + program + L" " + arguments;
        return Start(line, root.path());
    }

    DWORD Start(std::wstring line, const std::wstring& folder)
    {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION raw{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &raw)) {
            ADD_FAILURE() << "cannot start " << Narrow(line) << ": " << GetLastError();
            return 0;
        }
        win::ProcessInformation pi;
        pi.take(raw);
        parentId = pi.processId;
        WaitForSingleObject(pi.process.get(), INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.process.get(), &code);
        return code;
    }

    std::vector<std::string> FrameworkCalls() { return SplitLines(ReadFileBytes(frameworkLog)); }
    std::vector<std::string> TrustCalls() { return SplitLines(ReadFileBytes(trustLog)); }

    // The framework's record of a run that set the property to value.
    static std::vector<std::string> PropertySet(bool value)
    {
        std::string v = value ? "true" : "false";
        return {
            "BizFrameworkInit",
            "BizGetObjectHandle SP 0 0",
            "BuildNewZlVariant EP_BO_TECHNOLOGY_ENABLE=" + v,
            "BizSetPropertiesEx SP /businessObject/EP_TOPIC_NAME_TECHNOLOGY/EP_BO_TECHNOLOGY_ENABLE 0 "
            "EP_BO_TECHNOLOGY_ENABLE=" + v,
            "BizReleaseObjectHandle SP",
            "AutoPtr frees EP_BO_TECHNOLOGY_ENABLE",
            "BizFrameworkCleanUp",
        };
    }

    size_t RefusalLines()
    {
        auto texts = output.Texts();
        return std::count(texts.begin(), texts.end(), "DisableSpSwitch: VerifyParentRunningZelmarDll failed.");
    }

    // Refused as an unverified caller: exit code, untouched framework, and one
    // more debugger line.
    void ExpectRefused(DWORD code)
    {
        EXPECT_EQ(code, kRefused);
        EXPECT_EQ(FrameworkCalls(), std::vector<std::string>{}) << "the framework must stay untouched";
        size_t lines = RefusalLines();
        EXPECT_EQ(lines, refusals_ + 1) << "debugger output:\n" << Dump(output.Texts());
        refusals_ = lines;
    }

private:
    size_t refusals_ = 0;
};

}  // namespace testing_support
