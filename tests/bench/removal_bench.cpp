// The removal layer against a bare loop of the Win32 calls the same outcome
// needs (find, clear a read-only attribute, delete, remove the folder, leave
// what is held for the restart), side by side in one run: microseconds per
// item (median of the rounds) and the ratio, for trees of N files in N/10
// folders with a few files held open and every hundredth file read-only.
// Cases: Nukedir without a log, the layer's tree removal as Sweeper's
// leftover removal calls it, and Sweeper's leftover removal with its log
// lines. Prints figures; it is not a test. See the README's benchmark section.
//   removal_bench [rounds] [N ...]      (defaults: 3 rounds; N = 1000 10000 100000)

#include "Deletion.h"
#include "Handle.h"
#include "Leftovers.h"
#include "Registry.h"
#include "Removal.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 10;
constexpr int kHeldFiles = 3;
constexpr int kReadOnlyEvery = 100;
constexpr wchar_t kPendingKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring BenchRoot()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"zl-removal-bench";
}

// A laid tree: its folder, its item count, and the handles that hold some files.
struct Tree {
    std::wstring folder;
    int items = 0;
    std::vector<win::Handle> held;
};

Tree Lay(const std::wstring& folder, int files)
{
    Tree tree;
    tree.folder = folder;
    CreateDirectoryW(folder.c_str(), nullptr);
    const int folders = std::max(1, files / kFilesPerFolder);
    const char content[] = "removal bench";
    for (int f = 0; f < folders; ++f) {
        wchar_t name[32];
        _snwprintf(name, 32, L"\\d%05d", f);
        const std::wstring sub = folder + name;
        CreateDirectoryW(sub.c_str(), nullptr);
        ++tree.items;
        for (int i = f; i < files; i += folders) {
            _snwprintf(name, 32, L"\\f%06d.dat", i);
            const std::wstring path = sub + name;
            const bool hold = i < kHeldFiles;
            win::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, hold ? FILE_SHARE_READ : 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            WriteFile(file.get(), content, sizeof(content) - 1, &written, nullptr);
            if (hold) tree.held.push_back(std::move(file));
            if (i % kReadOnlyEvery == kReadOnlyEvery - 1) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
            ++tree.items;
        }
    }
    ++tree.items;
    return tree;
}

// The bare loop: the calls the outcome needs and nothing else.
void BareRemove(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    {
        win::FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
                const std::wstring path = folder + L"\\" + data.cFileName;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    BareRemove(path);
                    continue;
                }
                if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(path.c_str())) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            } while (FindNextFileW(find.get(), &data));
        }
    }
    if (!RemoveDirectoryW(folder.c_str())) MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Whatever a case left (the held files, once released), by the bare loop.
void Clear(Tree& tree)
{
    tree.held.clear();
    BareRemove(tree.folder);
}

// Drops the restart registrations the rounds made below the bench's folder.
void DropPendingEntries(const std::wstring& root)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, kPendingKey, KEY_QUERY_VALUE | KEY_SET_VALUE, win::RegView::Native, key) !=
        ERROR_SUCCESS)
        return;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return;
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
        ERROR_SUCCESS)
        return;
    std::vector<std::wstring> strings;
    for (const wchar_t* p = text.data(); p < text.data() + bytes / sizeof(wchar_t);) {
        strings.emplace_back(p);
        p += strings.back().size() + 1;
    }
    const std::wstring canonical = win::removal::Judge(root).path;
    std::wstring kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        const wchar_t* source = strings[i].c_str();
        if (StrStrIW(source, root.c_str()) != nullptr || StrStrIW(source, canonical.c_str()) != nullptr) continue;
        kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
    }
    if (kept.empty()) {
        RegDeleteValueW(key.get(), kPendingValue);
        return;
    }
    kept += L'\0';
    RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

struct Case {
    const char* name;
    void (*remove)(const std::wstring& folder);
};

void LayerTree(const std::wstring& folder)
{
    win::removal::RemoveFolderTree(folder, win::removal::Guard::OutsideWindows, win::removal::InUse::LeaveForRestart);
}

void QuietNukedir(const std::wstring& folder) { Nukedir(folder.c_str()); }

sweeper::SweeperLog g_log;

void SweeperDeleteAll(const std::wstring& folder) { sweeper::DeleteAll(g_log, folder); }

const Case kCases[] = {
    {"bare loop", BareRemove},
    {"Nukedir (no log)", QuietNukedir},
    {"layer tree (Sweeper's call)", LayerTree},
    {"Sweeper DeleteAll, its log lines", SweeperDeleteAll},
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int rounds = argc > 1 ? _wtoi(argv[1]) : 3;
    if (rounds < 1) rounds = 1;
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i)
        if (_wtoi(argv[i]) > 0) sizes.push_back(_wtoi(argv[i]));
    if (sizes.empty()) sizes = {1000, 10000, 100000};

    const std::wstring root = BenchRoot();
    CreateDirectoryW(root.c_str(), nullptr);
    std::printf("Removal of a tree of N files in N/10 folders, %d held, every %dth read-only; %d rounds, median\n",
                kHeldFiles, kReadOnlyEvery, rounds);
    std::printf("%8s  %-34s %12s %8s\n", "N", "case", "us per item", "ratio");
    const size_t cases = sizeof(kCases) / sizeof(kCases[0]);
    for (int files : sizes) {
        std::vector<std::vector<double>> perItem(cases);
        for (int round = 0; round < rounds; ++round) {
            for (size_t c = 0; c < cases; ++c) {
                Tree tree = Lay(root + L"\\tree", files);
                const double start = Now();
                kCases[c].remove(tree.folder);
                perItem[c].push_back((Now() - start) * 1e6 / tree.items);
                Clear(tree);
            }
        }
        const double bare = Median(perItem[0]);
        for (size_t c = 0; c < cases; ++c) {
            const double us = Median(perItem[c]);
            std::printf("%8d  %-34s %12.2f %8.2f\n", files, kCases[c].name, us, us / bare);
        }
        std::fflush(stdout);
    }
    DropPendingEntries(root);
    RemoveDirectoryW(root.c_str());
    if (g_log.FilePath()[0] != L'\0') DeleteFileW(g_log.FilePath());
    return 0;
}
