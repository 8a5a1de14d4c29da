#pragma once
// What the scanner and unregistration tests share: the install folder with
// recording stand-ins (COM server modules of both bitnesses, local servers),
// the records they leave, and the scanner keys removed before and after.

#include "ComponentStage.h"
#include "PlatformInfo.h"
#include "Removal.h"

#include <algorithm>
#include <cctype>

namespace scanner_testing {

using namespace component_testing;

// The COM server stand-in of the other architecture's build tree lies beside
// this one's ("x86" and "x64" folders of one build root).
inline std::wstring ComServer(int bits)
{
    std::wstring path = BuildPath(L"testbed\\comserver\\comserver.dll");
    if (bits == 64) path.replace(path.rfind(L"\\x86\\"), 5, L"\\x64\\");
    return path;
}

inline std::string Lower(std::string text)
{
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Keys the scanner steps read or remove, in the 32-bit view Uprooter sees.
constexpr const wchar_t* kScannerTrees[] = {
    L"SOFTWARE\\Zelmar\\QLCore", L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor",
    L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE", L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components",
    L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions"};
constexpr const wchar_t* kEmptyParents[] = {L"SOFTWARE\\Zelmar\\ManagedServices", L"SOFTWARE\\Zelmar\\ZuzadaZozi",
                                            L"SOFTWARE\\Zelmar", L"SOFTWARE\\Ostrand Labs\\KRX",
                                            L"SOFTWARE\\Ostrand Labs"};

class ScannerStage : public ComponentStage {
public:
    const std::wstring comRecord = dir / L"com.txt";
    ScopedEnv comEnv{L"ZL_COM_LOG", comRecord};
    const bool wow64 = IsWow64();

    ScannerStage() { ClearKeys(); }
    ~ScannerStage() { ClearKeys(); }

    // Copies a COM server stand-in of that bitness to install\relative.
    std::wstring StageModule(const std::wstring& relative, int bits) const
    {
        const std::wstring target = install + L"\\" + relative;
        SHCreateDirectoryExW(nullptr, target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
        CopyFileW(ComServer(bits).c_str(), target.c_str(), FALSE);
        return target;
    }
    std::wstring StageFile(const std::wstring& relative) const
    {
        const std::wstring target = install + L"\\" + relative;
        SHCreateDirectoryExW(nullptr, target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
        WriteFileBytes(target, "the older suite's");
        return target;
    }

    // The DllUnregisterServer calls as "<bits> <module path>", lower case, sorted.
    Lines Unregistered() const
    {
        Lines calls;
        for (const std::string& line : SplitLines(ReadFileBytes(comRecord))) {
            const size_t start = line.find(' ') + 1, end = line.find(" com=");
            calls.push_back(Lower(line.substr(start, end - start)));
        }
        std::sort(calls.begin(), calls.end());
        return calls;
    }
    static std::string Call(int bits, const std::wstring& module) { return Lower(std::to_string(bits) + " " + Narrow(module)); }

    static void MakeKey(const std::wstring& path)
    {
        win::Key key;
        win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key);
    }
    static void SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text)
    {
        win::Key key;
        win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key);
        win::WriteString(key.get(), name, text);
    }
    static bool KeyExists(const std::wstring& path)
    {
        win::Key key;
        return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
    }
    static bool ValueExists(const std::wstring& path, const wchar_t* name)
    {
        win::Key key;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS) return false;
        return RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

private:
    static void ClearKeys()
    {
        for (const wchar_t* tree : kScannerTrees)
            win::removal::RemoveKeyTree(HKEY_LOCAL_MACHINE, tree, win::RegView::Native);
        for (const wchar_t* parent : kEmptyParents) RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent);
    }
};

}  // namespace scanner_testing
