#pragma once
// The string database: localised texts by message id, read from "strings.bin"
// files in "lang" folders and cached for the life of the process.

#include <cstdint>
#include <map>
#include <string>

namespace LangUtils {

// Cache key: the program's own strings by language, or a blade's by name and language.
class Key {
public:
    enum Kind : int { Automatic = 0, Handle = 1, Blade = 2 };
    explicit Key(Kind kind) : kind_(kind) {}
    virtual ~Key() = default;
    // Strict ordering: by kind, then by the held values.
    virtual bool Less(const Key& other) const = 0;
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// A key that holds one 32-bit value: a language (AutoKey) or a handle (HandleAsKey).
template <Key::Kind K>
class ValueKey : public Key {
public:
    explicit ValueKey(uint32_t value) : Key(K), value_(value) {}
    bool Less(const Key& other) const override
    {
        if (kind() != other.kind()) return kind() < other.kind();
        return value_ < static_cast<const ValueKey&>(other).value_;
    }

private:
    uint32_t value_;
};

using AutoKey = ValueKey<Key::Automatic>;
using HandleAsKey = ValueKey<Key::Handle>;

class BladeAsKey : public Key {
public:
    BladeAsKey(std::wstring blade, uint32_t language) : Key(Blade), blade_(std::move(blade)), language_(language) {}
    bool Less(const Key& other) const override;

private:
    std::wstring blade_;
    uint32_t language_;
};

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class IStringDB {
public:
    virtual ~IStringDB() = default;
    virtual bool FindString(const std::wstring& key, std::wstring& out) const = 0;
};

// One loaded strings.bin. A file that is missing or bad gives an empty database.
class StringDB : public IStringDB {
public:
    StringDB() = default;
    explicit StringDB(const std::wstring& path);
    // Parses the text of a file (after unscrambling and decoding).
    void Parse(const std::wstring& text);
    // The unescaped value of key; false (and a trace) when it is not there.
    bool FindString(const std::wstring& key, std::wstring& out) const override;

private:
    std::wstring path_;
    std::map<std::wstring, std::wstring, NoCaseLess> entries_;
};

// The scrambling of the suite's string-file tooling: a file that begins with
// kScrambleMarker holds, after the marker, every byte b stored as s with
// b = kScrambleC - ((s + kScrambleA) ^ kScrambleX).
constexpr unsigned char kScrambleMarker[3] = {0xA7, 0x5A, 0x53};
constexpr unsigned char kScrambleA = 0x3B;
constexpr unsigned char kScrambleX = 0xA5;
constexpr unsigned char kScrambleC = 0x7E;

// Scrambled file content (marker included) for plain bytes; the tooling half.
std::string Scramble(const std::string& plain);
// The plain bytes of file content: unscrambled when it carries the marker.
std::string Unscramble(const std::string& content);
// Decodes file content as UTF-8, skipping a leading EF BB BF or FF FE.
std::wstring DecodeStrings(const std::string& content);
// Applies \n, \r and \t (either case); other backslashes stay.
std::wstring Unescape(const std::wstring& value);
// The language folder to use under a lang folder: an exact match, else the
// first of the same primary language, else 0x409.
uint32_t ChooseLanguage(const std::wstring& langFolder, uint32_t wanted);

// The text of id in language (0: the system's default), or an empty text.
// "blade:key" looks in the blade's install folders named by the registry,
// a plain key beside the program.
void GetString(uint32_t language, std::wstring& out, const std::wstring& id);

}  // namespace LangUtils
