#pragma once
// An INI file held in memory: ordered sections of ordered key/value entries,
// duplicate keys kept, written back whole as UTF-8 (no byte-order mark) with
// "\r\n" line ends. One thread at a time.

#include <windows.h>

#include <functional>
#include <list>
#include <memory>
#include <string>

// What a section tells the profile that holds it.
class CProfileNotify {
public:
    virtual ~CProfileNotify() = default;
    // A profile removes the section of that name (null: only marks itself
    // modified); a section removes the first entry with that key.
    virtual void OnRemove(const wchar_t* name) = 0;
    virtual void OnModified() = 0;
};

struct CProfileEntry {
    std::wstring key;
    std::wstring value;
};

// Reference counted: the profile holds one reference while the section is in
// it, and every FindSection or GetSection hands the caller one more.
class CProfileSection : public CProfileNotify {
public:
    CProfileSection(const std::wstring& name, CProfileNotify* owner) : name_(name), owner_(owner) {}

    void AddRef() { ++references_; }
    // Drops one reference; the last one frees the section.
    void Release();

    // Appends, duplicates kept.
    void AddEntry(const std::wstring& key, const std::wstring& value);
    // Removes the first entry whose key is key exactly (letter case counts).
    void RemoveEntry(const wchar_t* key) { OnRemove(key); }

    const std::wstring& Name() const { return name_; }
    const std::list<CProfileEntry>& Entries() const { return entries_; }

    void OnRemove(const wchar_t* key) override;
    void OnModified() override;

private:
    friend class CProfile;
    ~CProfileSection() override = default;

    LONG references_ = 1;
    std::list<CProfileEntry> entries_;
    std::wstring name_;
    CProfileNotify* owner_;  // null once the profile let the section go
};

struct CProfileSectionRelease {
    void operator()(CProfileSection* section) const { section->Release(); }
};
// One counted reference to a section.
using CProfileSectionRef = std::unique_ptr<CProfileSection, CProfileSectionRelease>;

class CProfile : public CProfileNotify {
public:
    CProfile() = default;
    // Saves if modified.
    ~CProfile() override;
    CProfile(const CProfile&) = delete;
    CProfile& operator=(const CProfile&) = delete;

    // Remembers the path and reads the file when it exists; otherwise proves
    // that it can be created (and removes it again) and starts empty. False
    // when the file cannot be read or parsed, holds UTF-16 text, or could not
    // be created.
    bool Load(const std::wstring& path);
    // Replaces the content by the sections and entries of an INI file's bytes
    // and clears the modified flag. False, with the profile left empty, for
    // UTF-16 text: those files are left alone rather than rewritten.
    bool Parse(const std::string& bytes);

    // The first section named name, letter case ignored; null when there is none.
    CProfileSectionRef FindSection(const std::wstring& name);
    // FindSection, else a new empty section appended at the end.
    CProfileSectionRef GetSection(const std::wstring& name);
    // Removes the first section named name, letter case ignored.
    void RemoveSection(const std::wstring& name);

    // Writes the file when something changed (replacing the file through the
    // common library's file deletion). The flag is cleared in every case.
    bool Save();
    // The bytes Save writes.
    std::string Text() const;

    bool IsModified() const { return modified_; }
    size_t SectionCount() const { return sections_.size(); }

    void OnRemove(const wchar_t* name) override;
    void OnModified() override { modified_ = true; }

private:
    void Clear();
    // Hands every line of the file format (without its end) to write; stops
    // at the first false.
    bool WriteLines(const std::function<bool(const std::wstring&)>& write) const;

    std::wstring path_;
    std::list<CProfileSection*> sections_;  // one reference each
    bool modified_ = false;
};
