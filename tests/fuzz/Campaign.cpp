#include "Campaign.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace fuzz {

uint64_t Rng::Next()
{
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::wstring Widen(const Bytes& utf8)
{
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

Bytes Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    Bytes out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Bytes Utf16(const std::wstring& text)
{
    return Bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring AsWide(const Bytes& bytes)
{
    std::wstring out(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return out;
}

bool ThroughFile(const Bytes& input)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : input) h = (h ^ c) * 16777619u;
    return h % 8 == 0;
}

bool WriteWholeFile(const std::wstring& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

namespace {

// Inputs never grow past this; the readers' own limits are far below it.
constexpr size_t kMaxUnits = 96 * 1024;

// Byte values that mean something to one grammar or another.
constexpr unsigned char kSpecialBytes[] = {0x00, 0xFF, 0x7F, 0x80, 0xFE, 0xEF, 0xBB, 0xBF, '\r', '\n', '"', '=',
                                           '%',  '<',  '>',  '[',  ']',  '\\', '/',  ';',  ',',  ':',  '&', ' '};
const char* const kNumbers[] = {"4294967295", "4294967296", "-1", "-2147483648", "2147483647",
                                "99999999999999999999999", "0x7fffffff", "0", "00000000000000000001", "1e9999",
                                "65535", "65536", "-0"};

// The mutations work on units: bytes of a narrow input, characters of a wide one.
template <typename S>
void Mutate(S& units, const Reader& reader, const std::vector<S>& tokens, Rng& rng)
{
    using C = typename S::value_type;
    const auto pos = [&](size_t extra = 0) { return static_cast<size_t>(rng.Below(static_cast<uint32_t>(units.size() + extra))); };
    switch (rng.Below(13)) {
    case 0:  // truncation
        units.resize(pos(1));
        break;
    case 1:  // bit flips
        for (uint32_t n = 1 + rng.Below(8); n && !units.empty(); --n) {
            C& c = units[pos()];
            c = static_cast<C>(c ^ (1u << rng.Below(sizeof(C) * 8)));
        }
        break;
    case 2:  // a meaningful byte
        if (!units.empty()) units[pos()] = static_cast<C>(kSpecialBytes[rng.Below(sizeof(kSpecialBytes))]);
        break;
    case 3: {  // a random block
        S block(1 + rng.Below(64), C());
        for (C& c : block) c = static_cast<C>(rng.Percent(70) ? 0x20 + rng.Below(95) : rng.Next());
        units.insert(pos(1), block);
        break;
    }
    case 4: {  // a repeated block
        if (units.empty()) break;
        const size_t at = pos(), length = 1 + rng.Below(static_cast<uint32_t>(std::min<size_t>(units.size() - at, 256)));
        const S slice = units.substr(at, length);
        const uint32_t times = rng.Percent(10) ? 1 + rng.Below(4000) : 1 + rng.Below(40);
        S repeated;
        for (uint32_t i = 0; i < times && repeated.size() < kMaxUnits; ++i) repeated += slice;
        units.insert(at, repeated);
        break;
    }
    case 5:
    case 6:  // a token of the grammar, sometimes many
        if (!tokens.empty()) {
            const S& token = tokens[rng.Below(static_cast<uint32_t>(tokens.size()))];
            const size_t at = pos(1);
            for (uint32_t n = rng.Percent(15) ? 1 + rng.Below(600) : 1; n; --n) units.insert(at, token);
        }
        break;
    case 7: {  // a run that meets a fixed buffer's length, or the whole input at it
        if (reader.boundaries.empty()) break;
        const size_t length = std::max<int64_t>(0, static_cast<int64_t>(reader.boundaries[rng.Below(
                                                       static_cast<uint32_t>(reader.boundaries.size()))]) +
                                                       static_cast<int64_t>(rng.Below(5)) - 2);
        const C filler = static_cast<C>("A\\x9 %"[rng.Below(6)]);
        if (rng.Percent(30))
            units.resize(length, filler);
        else
            units.insert(pos(1), S(length, filler));
        break;
    }
    case 8:  // a block removed
        if (!units.empty()) {
            const size_t at = pos();
            units.erase(at, 1 + rng.Below(static_cast<uint32_t>(std::min<size_t>(units.size() - at, 512))));
        }
        break;
    case 9: {  // line ends and terminators changed or dropped
        static const C ends[] = {C('\r'), C('\n'), C('\0')};
        const C from = ends[rng.Below(3)];
        const uint32_t how = rng.Below(3);
        S out;
        for (C c : units) {
            if (c != from) out.push_back(c);
            else if (how == 1) out.push_back(C('\r'));
            else if (how == 2) out += S(2, C('\n'));
        }
        units.swap(out);
        break;
    }
    case 10: {  // a number replaced by a huge or negative one
        size_t at = units.size() ? pos() : 0;
        while (at < units.size() && !(units[at] >= C('0') && units[at] <= C('9'))) ++at;
        size_t end = at;
        while (end < units.size() && units[end] >= C('0') && units[end] <= C('9')) ++end;
        const char* n = kNumbers[rng.Below(sizeof(kNumbers) / sizeof(kNumbers[0]))];
        units.replace(at, end - at, S(n, n + strlen(n)));
        break;
    }
    case 11: {  // a copy of another part moved here
        if (units.size() < 2) break;
        const size_t from = pos(), length = 1 + rng.Below(static_cast<uint32_t>(units.size() - from));
        units.insert(pos(1), units.substr(from, length));
        break;
    }
    default:  // the last unit doubled or dropped: missing and doubled ends
        if (!units.empty()) {
            if (rng.Percent(50)) units.pop_back();
            else units.push_back(units.back());
        }
        break;
    }
    if (units.size() > kMaxUnits) units.resize(kMaxUnits);
}

// Another encoding or byte-order mark for the whole input.
Bytes Reencode(const Bytes& input, bool wide, Rng& rng)
{
    static const Bytes marks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", "\xFF\xFE\x00\x00", ""};
    switch (rng.Below(4)) {
    case 0:  // a mark in front
        return marks[rng.Below(5)] + input;
    case 1:  // the other width
        if (wide) {
            Bytes narrow;
            for (wchar_t c : AsWide(input)) narrow.push_back(static_cast<char>(c));
            return narrow;
        } else {
            Bytes out = rng.Percent(50) ? Bytes("\xFF\xFE") : Bytes();
            for (char c : input) out += Bytes{c, '\0'};
            return out;
        }
    case 2: {  // byte order swapped
        Bytes out = input;
        for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
        return out;
    }
    default:  // one byte dropped: every character after it misaligned
        if (input.empty()) return input;
        return input.substr(0, input.size() / 2) + input.substr(input.size() / 2 + 1);
    }
}

uint64_t NameHash(const std::string& name)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace

Bytes MakeInput(const Reader& reader, uint64_t campaignSeed, uint64_t index)
{
    Rng rng(campaignSeed ^ NameHash(reader.name) ^ (index * 0xD1B54A32D192ED03ull));
    Bytes input = reader.seeds.empty() ? Bytes() : reader.seeds[rng.Below(static_cast<uint32_t>(reader.seeds.size()))];
    const uint32_t rounds = 1 + rng.Below(4);
    for (uint32_t r = 0; r < rounds; ++r) {
        if (rng.Percent(8)) {
            input = Reencode(input, reader.wide, rng);
        } else if (reader.wide) {
            std::vector<std::wstring> tokens;
            for (const Bytes& t : reader.tokens) tokens.push_back(Widen(t));
            std::wstring units = AsWide(input);
            Mutate(units, reader, tokens, rng);
            input = Utf16(units) + (input.size() % 2 ? input.substr(input.size() - 1) : Bytes());
        } else {
            Mutate(input, reader, reader.tokens, rng);
        }
    }
    return input;
}

namespace {

// What the fault handlers need, set before every input.
struct Current {
    const char* reader = "";
    uint64_t seed = 0;
    uint64_t index = 0;
    const Bytes* input = nullptr;
    wchar_t folder[MAX_PATH] = {};
    std::atomic<DWORD> startTick{0};
    std::atomic<bool> running{false};
    DWORD boundMs = 0;
};
Current g_current;

void WriteError(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// Saves the current input as <folder>\<reader>-<seed>-<index>.bin; returns its name.
std::wstring SaveCurrent(const char* kind)
{
    CreateDirectoryW(g_current.folder, nullptr);
    wchar_t path[MAX_PATH + 128];
    swprintf(path, MAX_PATH + 128, L"%ls\\%hs-%016llx-%llu-%hs.bin", g_current.folder, g_current.reader,
             static_cast<unsigned long long>(g_current.seed), static_cast<unsigned long long>(g_current.index), kind);
    if (g_current.input) WriteWholeFile(path, *g_current.input);
    return path;
}

[[noreturn]] void SaveAndEnd(const char* kind, const char* detail)
{
    g_current.running = false;
    const std::wstring path = SaveCurrent(kind);
    char text[1024];
    snprintf(text, sizeof(text),
             "\n[campaign] FAULT (%s: %s) in reader %s, seed 0x%016llx, input %llu; input saved as %ls\n"
             "[campaign] reproduce: ZL_FUZZ_SEED=0x%016llx ZL_FUZZ_INDEX=%llu\n",
             kind, detail, g_current.reader, static_cast<unsigned long long>(g_current.seed),
             static_cast<unsigned long long>(g_current.index), path.c_str(),
             static_cast<unsigned long long>(g_current.seed), static_cast<unsigned long long>(g_current.index));
    WriteError(text);
    TerminateProcess(GetCurrentProcess(), 0xF0);
    ExitProcess(0xF0);
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* info)
{
    char detail[64];
    snprintf(detail, sizeof(detail), "exception 0x%08lx at %p", info->ExceptionRecord->ExceptionCode,
             info->ExceptionRecord->ExceptionAddress);
    SaveAndEnd("crash", detail);
}

// A failed library check (_GLIBCXX_ASSERTIONS) and std::terminate end in abort().
void OnAbort(int) { SaveAndEnd("abort", "abort() called"); }

DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(200);
        if (g_current.running && GetTickCount() - g_current.startTick > g_current.boundMs) {
            char detail[64];
            snprintf(detail, sizeof(detail), "over %lu ms", g_current.boundMs);
            SaveAndEnd("hang", detail);
        }
    }
}

void InstallHandlersOnce()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    SetUnhandledExceptionFilter(OnUnhandled);
    signal(SIGABRT, OnAbort);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
}

// Runs one input under the handlers; false with the problem when the reader
// misbehaved without faulting.
bool RunOne(const Reader& reader, const Bytes& input, std::string& problem)
{
    g_current.input = &input;
    g_current.startTick = GetTickCount();
    g_current.running = true;
    bool ok = false;
    try {
        ok = reader.run(input, problem);
    } catch (const std::exception& e) {
        SaveAndEnd("exception", e.what());
    } catch (...) {
        SaveAndEnd("exception", "unknown");
    }
    g_current.running = false;
    return ok;
}

void SetCurrent(const Reader& reader, const std::wstring& folder, uint64_t seed, DWORD boundMs)
{
    InstallHandlersOnce();
    g_current.reader = reader.name.c_str();
    g_current.seed = seed;
    g_current.boundMs = boundMs;
    wcsncpy(g_current.folder, folder.c_str(), MAX_PATH - 1);
}

uint64_t EnvNumber(const wchar_t* name, uint64_t fallback, bool* present = nullptr)
{
    wchar_t text[64] = {};
    const DWORD n = GetEnvironmentVariableW(name, text, 64);
    if (present) *present = n > 0 && n < 64;
    if (n == 0 || n >= 64) return fallback;
    return wcstoull(text, nullptr, 0);
}

}  // namespace

Settings SettingsFromEnvironment(uint64_t defaultCount)
{
    Settings settings;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    settings.seed = EnvNumber(L"ZL_FUZZ_SEED", static_cast<uint64_t>(now.QuadPart) * 0x2545F4914F6CDD1Dull ^ GetTickCount());
    settings.count = EnvNumber(L"ZL_FUZZ_COUNT", defaultCount);
    settings.boundMs = static_cast<DWORD>(EnvNumber(L"ZL_FUZZ_BOUND_MS", settings.boundMs));
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    folder.erase(folder.rfind(L'\\'));
    settings.faultFolder = folder + L"\\fuzz-faults";
    return settings;
}

Outcome RunCampaign(const Reader& reader, const Settings& settings)
{
    SetCurrent(reader, settings.faultFolder, settings.seed, settings.boundMs);
    bool single = false;
    const uint64_t only = EnvNumber(L"ZL_FUZZ_INDEX", 0, &single);
    Outcome outcome;
    const DWORD start = GetTickCount();
    for (uint64_t i = single ? only : 0; i < (single ? only + 1 : settings.count); ++i) {
        g_current.index = i;
        const Bytes input = MakeInput(reader, settings.seed, i);
        std::string problem;
        ++outcome.inputs;
        if (!RunOne(reader, input, problem)) {
            const std::wstring saved = SaveCurrent("wrong");
            char line[1024];
            snprintf(line, sizeof(line), "input %llu: %s (saved as %ls)", static_cast<unsigned long long>(i),
                     problem.c_str(), saved.c_str());
            outcome.problems.push_back(line);
            if (outcome.problems.size() >= 5) break;  // enough to go on with
        }
    }
    outcome.elapsedMs = GetTickCount() - start;
    printf("[campaign] reader %s: seed 0x%016llx, %llu inputs, %lu ms, %zu problems\n", reader.name.c_str(),
           static_cast<unsigned long long>(settings.seed), static_cast<unsigned long long>(outcome.inputs),
           outcome.elapsedMs, outcome.problems.size());
    fflush(stdout);
    return outcome;
}

Outcome Replay(const Reader& reader, const std::wstring& folder, const Settings& settings)
{
    Outcome outcome;
    const std::wstring pattern = folder + L"\\" + Widen(reader.name) + L"-*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return outcome;
    do {
        const std::wstring path = folder + L"\\" + found.cFileName;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        Bytes input(found.nFileSizeLow, '\0');
        DWORD got = 0;
        ReadFile(file, input.data(), found.nFileSizeLow, &got, nullptr);
        CloseHandle(file);
        input.resize(got);
        SetCurrent(reader, settings.faultFolder, 0, settings.boundMs);
        std::string problem;
        ++outcome.inputs;
        if (!RunOne(reader, input, problem)) outcome.problems.push_back(Utf8(found.cFileName) + ": " + problem);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return outcome;
}

}  // namespace fuzz
