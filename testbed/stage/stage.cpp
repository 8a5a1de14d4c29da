// The stager and audit as a command, for the main-job script:
//   stage lay <suite package folder> <agent package>             the newer suite
//   stage older lay <agent program> <Defender library stand-in> <stand-in folder> [records folder]
//                                                                 the older suite
//   stage [older] snapshot <file> [folder]  the state before laying, into file
//   stage [older] audit <snapshot file> [folder [ignored file...]]
//   stage [older] undo <snapshot file>
// folder is one more tree to compare (where the run was started); ignored files
// are the run's own logs there. The stand-in folder holds zlservice.exe,
// component.exe, windowed.exe, comserver.dll and its 64-bit build comserver64.dll. audit exits 1 when anything of the suite is
// left, anything outside it changed, or another product's data is gone.
#include "SuiteStage.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& bytes)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

stage::OlderSources OlderSourcesFrom(const std::vector<std::wstring>& args)
{
    const std::wstring& standIns = args[3];
    return {args[1],
            args[2],
            standIns + L"\\zlservice.exe",
            standIns + L"\\component.exe",
            standIns + L"\\windowed.exe",
            standIns + L"\\comserver.dll",
            standIns + L"\\comserver64.dll",
            args.size() > 4 ? args[4] : L""};
}

void Print(const std::wstring& text) { std::fputs(Utf8(text).c_str(), stdout); }

bool WriteAll(const std::wstring& path, const std::string& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    const bool older = !args.empty() && args[0] == L"older";
    if (older) args.erase(args.begin());
    const std::wstring command = args.empty() ? L"" : args[0];
    std::vector<std::wstring> folders;
    if (args.size() > 2) folders.push_back(args[2]);

    if (command == L"lay" && (older ? args.size() == 4 || args.size() == 5 : args.size() == 3)) {
        std::vector<std::wstring> problems = stage::Lay(older ? stage::OlderSuite(OlderSourcesFrom(args))
                                                              : stage::NewerSuite({args[1], args[2]}));
        for (const std::wstring& problem : problems) Print(problem + L"\n");
        return problems.empty() ? 0 : 1;
    }
    const stage::Footprint suite = older ? stage::OlderSuite() : stage::NewerSuite();
    if (command == L"snapshot" && args.size() >= 2)
        return WriteAll(args[1], Utf8(stage::Serialize(stage::TakeSnapshot(suite, folders)))) ? 0 : 1;
    if (command == L"audit" && args.size() >= 2) {
        std::vector<std::wstring> ignored(args.size() > 3 ? args.begin() + 3 : args.end(), args.end());
        stage::Audit audit = stage::TakeAudit(suite, stage::Deserialize(Wide(ReadAll(args[1]))), folders, ignored);
        Print(stage::Describe(audit));
        return audit.stillPresent.empty() && audit.outsideChanged.empty() && audit.plantedMissing.empty() ? 0 : 1;
    }
    if (command == L"undo" && args.size() == 2) {
        stage::Undo(suite, stage::Deserialize(Wide(ReadAll(args[1]))));
        return 0;
    }
    Print(L"usage: stage lay <suite package folder> <agent package> | older lay <agent program> <Defender"
          L" library> <stand-in folder> [records folder] | [older] snapshot <file> [folder] | [older] audit"
          L" <snapshot file> [folder [ignored file...]] | [older] undo <snapshot file>\n");
    return 2;
}
