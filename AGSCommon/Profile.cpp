#include "Profile.h"

#include "FileName.h"
#include "Handle.h"
#include "Log.h"

#include <cwchar>

namespace {

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring Trimmed(const std::wstring& text)
{
    static constexpr wchar_t kSpace[] = L" \t\r\n\v\f";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::wstring Decoded(const char* bytes, size_t count, UINT codePage)
{
    if (count == 0) return L"";
    const int units = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (units <= 0) return L"";
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), text.data(), units);
    return text;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return "";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    if (bytes <= 0) return "";
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

bool IsAscii(const std::wstring& text)
{
    for (wchar_t c : text)
        if (c > 0x7F) return false;
    return true;
}

bool ReadWhole(const std::wstring& path, std::string& bytes)
{
    win::Handle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.HighPart != 0 || size.LowPart > 0x7FFFFFFF) return false;
    bytes.assign(size.LowPart, '\0');
    DWORD read = 0;
    return size.LowPart == 0 || (ReadFile(file.get(), bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart);
}

// Creating, unlike opening, proves that the folder takes a new file.
bool CanCreate(const std::wstring& path)
{
    win::Handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    file.reset();
    FileName(path.c_str()).Delete();
    return true;
}

}  // namespace

// --- Sections ------------------------------------------------------------------

void CProfileSection::Release()
{
    if (--references_ == 0) delete this;
}

void CProfileSection::AddEntry(const std::wstring& key, const std::wstring& value)
{
    entries_.push_back({key, value});
    OnModified();
}

void CProfileSection::OnRemove(const wchar_t* key)
{
    if (key == nullptr) return;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            entries_.erase(it);
            OnModified();
            return;
        }
    }
}

void CProfileSection::OnModified()
{
    if (owner_ != nullptr) owner_->OnModified();
}

// --- The profile -----------------------------------------------------------------

CProfile::~CProfile()
{
    if (modified_) Save();
    Clear();
}

void CProfile::Clear()
{
    for (CProfileSection* section : sections_) {
        section->owner_ = nullptr;
        section->Release();
    }
    sections_.clear();
}

bool CProfile::Load(const std::wstring& path)
{
    path_ = path;
    Clear();
    modified_ = false;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return CanCreate(path);
    std::string bytes;
    if (!ReadWhole(path, bytes)) {
        AGS_LOG_WITH_ERROR(LogUtils::Warning, GetLastError(), L"CProfile::Load - Could not read %s", path.c_str());
        return false;
    }
    if (!Parse(bytes)) {
        AGS_LOG(LogUtils::Warning, L"CProfile::Load - %s holds UTF-16 text, left unchanged", path.c_str());
        return false;
    }
    return true;
}

bool CProfile::Parse(const std::string& bytes)
{
    Clear();
    modified_ = false;
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t pos = 0;
    UINT codePage = CP_ACP;
    if (bytes.size() >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) {
        codePage = CP_UTF8;
        pos = 3;
    } else if (bytes.size() >= 2 && ((raw[0] == 0xFF && raw[1] == 0xFE) || (raw[0] == 0xFE && raw[1] == 0xFF))) {
        // Read as ANSI, UTF-16 text would become single letters, and a save
        // would replace the file's entries by them.
        return false;
    }

    CProfileSectionRef current;
    while (pos < bytes.size()) {
        // A line ends at CR, LF or a zero byte; CR LF is one end.
        size_t end = bytes.find_first_of(std::string("\r\n\0", 3), pos);
        if (end == std::string::npos) end = bytes.size();
        std::wstring line = Decoded(bytes.data() + pos, end - pos, codePage);
        pos = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;

        const size_t comment = line.find(L';');
        if (comment != std::wstring::npos) line.resize(comment);
        line = Trimmed(line);
        if (line.empty()) continue;

        if (line[0] == L'[') {
            line.erase(0, 1);
            const size_t close = line.find(L']');
            if (close != std::wstring::npos) line.erase(close, 1);
            line = Trimmed(line);
            current.reset();
            if (IsAscii(line)) current = GetSection(line);
            continue;
        }
        if (!current) continue;
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos || equals == 0) continue;
        const std::wstring key = Trimmed(line.substr(0, equals));
        if (key.empty()) continue;
        current->AddEntry(key, Trimmed(line.substr(equals + 1)));
    }
    current.reset();
    modified_ = false;
    return true;
}

CProfileSectionRef CProfile::FindSection(const std::wstring& name)
{
    for (CProfileSection* section : sections_) {
        if (SameName(section->Name(), name)) {
            section->AddRef();
            return CProfileSectionRef(section);
        }
    }
    return nullptr;
}

CProfileSectionRef CProfile::GetSection(const std::wstring& name)
{
    CProfileSectionRef found = FindSection(name);
    if (found) return found;
    CProfileSection* section = new CProfileSection(name, this);
    sections_.push_back(section);
    modified_ = true;
    section->AddRef();
    return CProfileSectionRef(section);
}

void CProfile::RemoveSection(const std::wstring& name)
{
    OnRemove(name.c_str());
}

void CProfile::OnRemove(const wchar_t* name)
{
    modified_ = true;
    if (name == nullptr) return;
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
        if (SameName((*it)->Name(), name)) {
            CProfileSection* section = *it;
            sections_.erase(it);
            // A caller may still hold the section; it no longer reaches us.
            section->owner_ = nullptr;
            section->Release();
            return;
        }
    }
}

bool CProfile::WriteLines(const std::function<bool(const std::wstring&)>& write) const
{
    for (const CProfileSection* section : sections_) {
        if (!write(L"[" + section->Name() + L"]")) return false;
        for (const CProfileEntry& entry : section->Entries())
            if (!write(entry.key + L"=" + entry.value)) return false;
        if (!write(L"")) return false;
    }
    return true;
}

std::string CProfile::Text() const
{
    std::string text;
    WriteLines([&text](const std::wstring& line) {
        text += Utf8(line) + "\r\n";
        return true;
    });
    return text;
}

bool CProfile::Save()
{
    if (!modified_) return true;
    modified_ = false;
    if (path_.empty()) return false;
    if (GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES && !FileName(path_.c_str()).Delete())
        return false;
    win::Handle file(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return WriteLines([&file](const std::wstring& line) {
        const std::string bytes = Utf8(line) + "\r\n";
        DWORD written = 0;
        return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    });
}
