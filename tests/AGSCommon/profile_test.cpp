// The INI model: what a file's bytes load as (seen through the bytes a save
// writes), and saving to a real file.
#include "Profile.h"
#include "Scratch.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct ParseCase {
    const char* name;
    std::string bytes;
    std::string written;  // what Text() gives after the parse
};

const ParseCase kParseCases[] = {
    {"same section in two cases is one", "[Rename]\r\na=1\r\n[other]\r\nx=y\r\n[RENAME]\r\nb=2\r\n",
     "[Rename]\r\na=1\r\nb=2\r\n\r\n[other]\r\nx=y\r\n\r\n"},
    {"key and value trimmed, comment cut", "[s]\r\n  key \t =  some value  ; a comment\r\n; whole comment\r\n",
     "[s]\r\nkey=some value\r\n\r\n"},
    {"leading equals ignored, empty value kept", "[s]\r\n=orphan\r\nempty=\r\nnoequals\r\n  = x\r\n",
     "[s]\r\nempty=\r\n\r\n"},
    {"non-ASCII header dropped with its entries", "[caf\xE9]\r\nlost=1\r\n[kept]\r\nk=v\r\n", "[kept]\r\nk=v\r\n\r\n"},
    {"entries before any header ignored", "stray=1\r\n[s]\r\nk=v", "[s]\r\nk=v\r\n\r\n"},
    {"duplicate keys kept in order", "[rename]\r\nNUL=C:\\a\r\nNUL=C:\\b\r\n", "[rename]\r\nNUL=C:\\a\r\nNUL=C:\\b\r\n\r\n"},
    {"header brackets and blanks removed", "[ spaced ]x\r\nk=v\r\n", "[spaced x]\r\nk=v\r\n\r\n"},
    {"zero byte ends a line", std::string("[s]\0k=v\0", 8), "[s]\r\nk=v\r\n\r\n"},
    {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[s]\r\nk=\xC3\xA9\r\n", "[s]\r\nk=\xC3\xA9\r\n\r\n"},
    {"without the mark the ANSI code page", "[s]\r\nk=\xC3\xA9\r\n", "[s]\r\nk=\xC3\x83\xC2\xA9\r\n\r\n"},
    // Lines ending in LF alone are lines too: read as one line, a save would
    // replace the whole file by its first header.
    {"LF line ends", "[s]\nk=v\n[t]\nx=y\n", "[s]\r\nk=v\r\n\r\n[t]\r\nx=y\r\n\r\n"},
};

TEST(ProfileParse, Cases)
{
    for (const ParseCase& c : kParseCases) {
        CProfile profile;
        EXPECT_TRUE(profile.Parse(c.bytes)) << c.name;
        EXPECT_EQ(profile.Text(), c.written) << c.name;
        EXPECT_FALSE(profile.IsModified()) << c.name;
    }
}

TEST(ProfileParse, Utf16IsRefusedAndLeftAlone)
{
    ScratchDir dir(L"profile-utf16");
    const std::string utf16("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0v\0", 18);
    ASSERT_TRUE(WriteFileBytes(dir / L"a.ini", utf16));
    CProfile profile;
    EXPECT_FALSE(profile.Load(dir / L"a.ini"));
    EXPECT_EQ(profile.SectionCount(), 0u);
    profile.Save();
    EXPECT_EQ(ReadFileBytes(dir / L"a.ini"), utf16);
}

TEST(ProfileParse, RemovalsFollowTheirCaseRules)
{
    CProfile profile;
    ASSERT_TRUE(profile.Parse("[a]\r\nk=1\r\nK=2\r\nk=3\r\n[b]\r\n"));
    profile.FindSection(L"A")->RemoveEntry(L"K");  // exact case, first match only
    profile.RemoveSection(L"B");                    // any case
    EXPECT_TRUE(profile.IsModified());
    EXPECT_EQ(profile.Text(), "[a]\r\nk=1\r\nk=3\r\n\r\n");
}

TEST(ProfileFile, SaveWritesUtf8OnlyWhenModifiedAndLoadLeavesNoFile)
{
    ScratchDir dir(L"profile-file");
    const std::wstring ini = dir / L"WinInit.Ini";
    {
        CProfile missing;
        EXPECT_TRUE(missing.Load(ini));
        EXPECT_FALSE(FileExists(ini)) << "proved creatable, and removed again";
        EXPECT_FALSE(missing.Load(dir / L"no such folder\\x.ini"));
    }
    const std::string original = "; kept while nothing changes\r\n[rename]\r\nNUL=C:\\old\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, original));
    {
        CProfile profile;
        ASSERT_TRUE(profile.Load(ini));
        EXPECT_TRUE(profile.Save());
        EXPECT_EQ(ReadFileBytes(ini), original) << "an unmodified profile writes nothing";
        profile.GetSection(L"rename")->AddEntry(L"NUL", L"C:\\caf\u00e9");
        EXPECT_TRUE(profile.Save());
        EXPECT_FALSE(profile.IsModified());
        EXPECT_EQ(ReadFileBytes(ini), "[rename]\r\nNUL=C:\\old\r\nNUL=C:\\caf\xC3\xA9\r\n\r\n");
        profile.GetSection(L"DIRNUL")->AddEntry(L"C:\\dir", L"1");
    }  // saved when it goes
    EXPECT_EQ(ReadFileBytes(ini), "[rename]\r\nNUL=C:\\old\r\nNUL=C:\\caf\xC3\xA9\r\n\r\n[DIRNUL]\r\nC:\\dir=1\r\n\r\n");
}

}  // namespace
