#include "StringDB.h"

#include "Handle.h"
#include "LogConfig.h"
#include "Registry.h"
#include "ThreadBuffers.h"

#include <shlwapi.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace LangUtils {

using LogUtils::DebugTrace;

namespace {

constexpr LONG kMaxFileBytes = 500000;
const wchar_t kProductInfoKey[] = L"SOFTWARE\\Zelmar\\Endpoint\\ProductInfo";
const wchar_t kBladeKeyBase[] = L"SOFTWARE\\Zelmar\\Endpoint\\";

std::wstring Trim(const std::wstring& text)
{
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLanguageFolderName(const wchar_t* name)
{
    if (wcslen(name) != 4) return false;
    for (int i = 0; i < 4; ++i) {
        if (!iswxdigit(name[i])) return false;
    }
    return true;
}

// Reads the whole expanded content through the LZ functions; false when the
// file cannot be opened or is larger than kMaxFileBytes.
bool ReadExpanded(const std::wstring& path, std::string& content)
{
    OFSTRUCT info{};
    std::vector<wchar_t> name(path.begin(), path.end());
    name.push_back(L'\0');
    win::LzFile file(LZOpenFileW(name.data(), &info, OF_READ | OF_SHARE_DENY_NONE));
    if (!file) {
        wchar_t shortPath[260] = {};
        if (GetShortPathNameW(path.c_str(), shortPath, 260) > 0) file.reset(LZOpenFileW(shortPath, &info, OF_READ | OF_SHARE_DENY_NONE));
    }
    if (!file) return false;
    LONG size = LZSeek(file.get(), 0, 2);
    if (size < 0 || size > kMaxFileBytes || LZSeek(file.get(), 0, 0) < 0) return false;
    content.assign(static_cast<size_t>(size), '\0');
    INT got = size > 0 ? LZRead(file.get(), content.data(), size) : 0;
    if (got < 0) return false;
    content.resize(static_cast<size_t>(got));
    return true;
}

struct KeyPtrLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<Key>& a, const std::unique_ptr<Key>& b) const { return a->Less(*b); }
    bool operator()(const std::unique_ptr<Key>& a, const Key& b) const { return a->Less(b); }
    bool operator()(const Key& a, const std::unique_ptr<Key>& b) const { return a.Less(*b); }
};

// The process-wide cache; every use holds its lock.
class StringCache {
public:
    static win::CriticalSection& Lock()
    {
        static win::CriticalSection lock;
        return lock;
    }
    static StringCache& Instance()
    {
        static StringCache cache;
        return cache;
    }

    const StringDB* Find(const Key& key) const
    {
        auto it = keys_.find(key);
        return it == keys_.end() ? nullptr : databases_.at(it->second).get();
    }

    const StringDB& Register(std::unique_ptr<Key> key, const std::wstring& path)
    {
        int number = static_cast<int>(InterlockedIncrement(&counter_));
        auto& db = databases_[number] = std::make_unique<StringDB>(path);
        keys_[std::move(key)] = number;
        return *db;
    }

private:
    LONG counter_ = 0;
    std::map<std::unique_ptr<Key>, int, KeyPtrLess> keys_;
    std::map<int, std::unique_ptr<StringDB>> databases_;
};

std::wstring StringsPath(const std::wstring& langFolder, uint32_t wanted)
{
    wchar_t tail[32];
    _snwprintf(tail, 31, L"\\%04lx\\strings.bin", static_cast<unsigned long>(ChooseLanguage(langFolder, wanted)));
    tail[31] = L'\0';
    return langFolder + tail;
}

std::wstring ProgramLangFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    PathRemoveFileSpecW(path);
    return std::wstring(path) + L"\\lang";
}

// The blade's key name under "SOFTWARE\Zelmar\Endpoint": its ProductInfo value, else the blade.
std::wstring MappedBladeKey(const std::wstring& blade)
{
    for (win::RegView view : {win::RegView::Bit64, win::RegView::Bit32}) {
        win::Key key;
        std::wstring value;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, kProductInfoKey, KEY_QUERY_VALUE, view, key) == ERROR_SUCCESS &&
            win::ReadString(key.get(), blade.c_str(), value) == ERROR_SUCCESS && !value.empty() &&
            (value.size() + 1) * sizeof(wchar_t) <= 520)
            return value;
    }
    return blade;
}

std::vector<std::wstring> InstallFolders(const std::wstring& mappedKey)
{
    std::vector<std::wstring> folders;
    for (win::RegView view : {win::RegView::Bit64, win::RegView::Bit32}) {
        win::Key key;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, kBladeKeyBase + mappedKey, KEY_QUERY_VALUE, view, key) != ERROR_SUCCESS)
            continue;
        std::wstring dir64;
        std::wstring dir32;
        if (win::ReadString(key.get(), L"szInstallDir64", dir64) == ERROR_SUCCESS) folders.push_back(dir64);
        if (win::ReadString(key.get(), L"szInstallDir32", dir32) == ERROR_SUCCESS &&
            (folders.empty() || folders.front() != dir32))
            folders.push_back(dir32);
        break;
    }
    return folders;
}

void GetBladeString(uint32_t language, std::wstring& out, const std::wstring& blade, const std::wstring& key)
{
    win::Lock lock(StringCache::Lock());
    StringCache& cache = StringCache::Instance();
    BladeAsKey cacheKey(blade, language);
    if (const StringDB* db = cache.Find(cacheKey)) {
        db->FindString(key, out);
        return;
    }
    std::wstring mapped = MappedBladeKey(blade);
    std::vector<std::wstring> folders = InstallFolders(mapped);
    if (folders.empty()) {
        DebugTrace(L"Failed to get root directories\n");
        DebugTrace(L"StringId: %s\n", key.c_str());
        DebugTrace(L"Blade Name: %s\n", blade.c_str());
        DebugTrace(L"Mapped Key: %s\n", mapped.c_str());
        return;
    }
    DebugTrace(L"Installed directory list:\n");
    for (const std::wstring& folder : folders) {
        std::wstring lang = folder + L"\\lang";
        DebugTrace(L"%s", lang.c_str());
        if (!IsFolder(lang)) {
            DebugTrace(L"%s is not a valid/does not exist\n", lang.c_str());
            continue;
        }
        const StringDB& db =
            cache.Register(std::make_unique<BladeAsKey>(blade, language), StringsPath(lang, language));
        db.FindString(key, out);
        return;
    }
}

void GetOwnString(uint32_t language, std::wstring& out, const std::wstring& key)
{
    win::Lock lock(StringCache::Lock());
    StringCache& cache = StringCache::Instance();
    const StringDB* db = cache.Find(AutoKey(language));
    if (!db) db = &cache.Register(std::make_unique<AutoKey>(language), StringsPath(ProgramLangFolder(), language));
    db->FindString(key, out);
}

}  // namespace

bool BladeAsKey::Less(const Key& other) const
{
    if (kind() != other.kind()) return kind() < other.kind();
    const auto& blade = static_cast<const BladeAsKey&>(other);
    int order = blade_.compare(blade.blade_);
    return order != 0 ? order < 0 : language_ < blade.language_;
}

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }

std::string Scramble(const std::string& plain)
{
    std::string out(reinterpret_cast<const char*>(kScrambleMarker), sizeof(kScrambleMarker));
    for (unsigned char b : plain)
        out += static_cast<char>(static_cast<unsigned char>(((kScrambleC - b) & 0xFF) ^ kScrambleX) - kScrambleA);
    return out;
}

std::string Unscramble(const std::string& content)
{
    if (content.size() < sizeof(kScrambleMarker) ||
        content.compare(0, sizeof(kScrambleMarker), reinterpret_cast<const char*>(kScrambleMarker),
                        sizeof(kScrambleMarker)) != 0)
        return content;
    std::string plain = content.substr(sizeof(kScrambleMarker));
    for (char& c : plain) {
        auto s = static_cast<unsigned char>(c);
        c = static_cast<char>(kScrambleC - static_cast<unsigned char>((s + kScrambleA) ^ kScrambleX));
    }
    return plain;
}

std::wstring DecodeStrings(const std::string& content)
{
    size_t skip = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) skip = 3;
    else if (content.compare(0, 2, "\xFF\xFE") == 0) skip = 2;
    std::wstring text;
    LogUtils::ConvertFrom(text, content.data() + skip, content.size() - skip, CP_UTF8);
    return text;
}

std::wstring Unescape(const std::wstring& value)
{
    std::wstring out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        wchar_t next = i + 1 < value.size() ? towlower(value[i + 1]) : L'\0';
        if (value[i] == L'\\' && (next == L'n' || next == L'r' || next == L't')) {
            out += next == L'n' ? L'\n' : next == L'r' ? L'\r' : L'\t';
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

uint32_t ChooseLanguage(const std::wstring& langFolder, uint32_t wanted)
{
    std::vector<uint32_t> found;
    WIN32_FIND_DATAW data;
    win::FindHandle find(FindFirstFileExW((langFolder + L"\\*").c_str(), FindExInfoStandard, &data,
                                          FindExSearchLimitToDirectories, nullptr, 0));
    if (find) {
        do {
            // The directory limit is only advice (Wine returns files too).
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLanguageFolderName(data.cFileName))
                found.push_back(static_cast<uint32_t>(wcstoul(data.cFileName, nullptr, 16)));
        } while (FindNextFileW(find.get(), &data));
    }
    for (uint32_t language : found) {
        if (language == wanted) return language;
    }
    for (uint32_t language : found) {
        if ((language & 0x3FF) == (wanted & 0x3FF)) return language;
    }
    return 0x409;
}

StringDB::StringDB(const std::wstring& path) : path_(path)
{
    if (!PathFileExistsW(path.c_str()) || IsFolder(path)) {
        DebugTrace(L"%s file does not exist!!!", path.c_str());
        return;
    }
    std::string content;
    if (!ReadExpanded(path, content)) {
        DebugTrace(L"Failed to load %s file!!!", path.c_str());
        return;
    }
    Parse(DecodeStrings(Unscramble(content)));
}

void StringDB::Parse(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    lines.reserve(500);
    size_t start = 0;
    while (start < text.size()) {
        size_t cr = text.find(L'\r', start);
        if (cr == std::wstring::npos) cr = text.size();
        if (cr > start) lines.push_back(text.substr(start, cr - start));
        start = cr + 2;
    }
    if (lines.empty()) {
        DebugTrace(L"Failed to split lines for%s file!!!", path_.c_str());
        return;
    }
    for (const std::wstring& line : lines) {
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) continue;
        std::wstring key = Trim(line.substr(0, equals));
        std::wstring value = Trim(line.substr(equals + 1));
        if (key.empty() || value.size() < 3 || value.front() != L'"') continue;
        entries_[key] = value.substr(1, value.size() - 2);
    }
    if (entries_.empty()) DebugTrace(L"Failed to create name value pairs for %s file!!!", path_.c_str());
}

bool StringDB::FindString(const std::wstring& key, std::wstring& out) const
{
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        DebugTrace(L"Failed to locate %s in %s file", key.c_str(), path_.c_str());
        return false;
    }
    out = Unescape(it->second);
    return true;
}

void GetString(uint32_t language, std::wstring& out, const std::wstring& id)
{
    out.clear();
    if (language == 0) language = GetSystemDefaultLCID();
    size_t colon = id.find(L':');
    if (colon == std::wstring::npos) {
        if (id.empty()) {
            DebugTrace(L"Empty/NULL stringId\n");
            return;
        }
        GetOwnString(language, out, id);
        return;
    }
    std::wstring blade = id.substr(0, colon);
    std::wstring key = id.substr(colon + 1);
    if (blade.empty() || key.empty()) {
        DebugTrace(L"Empty/NULL stringId/bladeName\n");
        return;
    }
    GetBladeString(language, out, blade, key);
}

}  // namespace LangUtils
