#include "DbWinListener.h"
#include "LogTestSupport.h"
#include "StringDB.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace LangUtils;
using namespace testing_support;

namespace {

// data/strings.bin as checked in, and as the build compressed it with mscompress.
std::string PlainFixture() { return ReadFileBytes(ProgramDir() + L"\\strings.bin"); }
const wchar_t kCompressedFixture[] = L"strings.bin_";

void ExpectFixtureValues(const StringDB& db, const std::string& what)
{
    std::wstring out;
    EXPECT_TRUE(db.FindString(L"greeting", out)) << what;
    EXPECT_EQ(out, L"Hello %s") << what;
    EXPECT_TRUE(db.FindString(L"Tabbed", out)) << what;
    EXPECT_EQ(out, L"a\tb\nc\\\\d\\q") << what;
    EXPECT_TRUE(db.FindString(L"Umlaut", out)) << what;
    EXPECT_EQ(out, L"Gr\u00f6\u00dfe") << what;
    EXPECT_TRUE(db.FindString(L"DUP", out)) << what;
    EXPECT_EQ(out, L"second") << what;
    for (const wchar_t* skipped : {L"Empty", L"NoQuote", L"", L"no equals at all"})
        EXPECT_FALSE(db.FindString(skipped, out)) << what << ": " << Narrow(skipped);
}

TEST(StringDB, PlainScrambledAndCompressedFilesGiveTheSameTexts)
{
    ScratchDir dir(L"stringdb");
    const std::string plain = PlainFixture();
    ASSERT_FALSE(plain.empty());
    ExpectFixtureValues(StringDB(ProgramDir() + L"\\strings.bin"), "plain");
    ASSERT_TRUE(WriteFileBytes(dir / L"bom.bin", "\xEF\xBB\xBF" + plain));
    ExpectFixtureValues(StringDB(dir / L"bom.bin"), "with a byte-order mark");
    ASSERT_TRUE(WriteFileBytes(dir / L"scrambled.bin", Scramble(plain)));
    ASSERT_NE(ReadFileBytes(dir / L"scrambled.bin").find("Hello"), 0u);
    EXPECT_EQ(ReadFileBytes(dir / L"scrambled.bin").find("Hello"), std::string::npos);
    ExpectFixtureValues(StringDB(dir / L"scrambled.bin"), "scrambled");
    ASSERT_EQ(ReadFileBytes(ProgramDir() + L"\\" + kCompressedFixture).substr(0, 4), "SZDD");
    ExpectFixtureValues(StringDB(ProgramDir() + L"\\" + kCompressedFixture), "LZ-compressed");
}

TEST(StringDB, ScramblingIsABijectionOfEveryByte)
{
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Unscramble(Scramble(all)), all);
    EXPECT_EQ(Unscramble("plain text"), "plain text");
}

TEST(StringDB, LanguageFolderChoice)
{
    ScratchDir lang(L"langchoice");
    for (const wchar_t* name : {L"0407", L"0409", L"04xz", L"12345"}) CreateDirectoryW((lang / name).c_str(), nullptr);
    WriteFileBytes(lang / L"0411", "a file, not a folder");
    EXPECT_EQ(ChooseLanguage(lang.path(), 0x0807), 0x0407u);
    EXPECT_EQ(ChooseLanguage(lang.path(), 0x0407), 0x0407u);
    EXPECT_EQ(ChooseLanguage(lang.path(), 0x0411), 0x0409u);
    EXPECT_EQ(ChooseLanguage(lang / L"missing", 0x0407), 0x0409u);
}

// Blade strings come from the install folders that the registry names; a
// database stays cached even when its file was missing.
TEST(StringDB, BladeStringsFromTheRegistryAndAMissingFileTracedOnce)
{
    ScratchDir install(L"blade");
    CreateDirectoryW((install / L"lang").c_str(), nullptr);
    CreateDirectoryW((install / L"lang\\0407").c_str(), nullptr);
    CreateDirectoryW((install / L"lang\\0409").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(install / L"lang\\0407\\strings.bin", Scramble("Greeting = \"Hallo %s\"\r\n")));
    ASSERT_TRUE(CopyFileW((ProgramDir() + L"\\" + kCompressedFixture).c_str(),
                          (install / L"lang\\0409\\strings.bin").c_str(), FALSE));
    ScratchKey blade(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\TestBladeKey", win::RegView::Bit32);
    win::WriteString(blade.get(), L"szInstallDir32", install.path());
    ScratchKey info(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\ProductInfo", win::RegView::Bit64);
    win::WriteString(info.get(), L"TestBlade", L"TestBladeKey");

    std::wstring out;
    GetString(0x0807, out, L"TestBlade:Greeting");
    EXPECT_EQ(out, L"Hallo %s");
    GetString(0x0409, out, L"TestBlade:Umlaut");
    EXPECT_EQ(out, L"Gr\u00f6\u00dfe");
    GetString(0x0409, out, L"TestBlade:NoSuchKey");
    EXPECT_EQ(out, L"");

    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    GetString(0x0411, out, L"NoBlade:Greeting");
    EXPECT_EQ(out, L"");
    EXPECT_TRUE(logtest::Heard(listener, "Failed to get root directories\n"));
    EXPECT_TRUE(logtest::Heard(listener, "Mapped Key: NoBlade\n"));

    // A language folder without strings.bin: traced once, then only the missing key.
    CreateDirectoryW((install / L"lang\\040c").c_str(), nullptr);
    GetString(0x040c, out, L"TestBlade:Greeting");
    GetString(0x040c, out, L"TestBlade:Greeting");
    EXPECT_EQ(out, L"");
    EXPECT_TRUE(logtest::Heard(listener, "Failed to locate Greeting in"));
    Sleep(200);
    int missing = 0;
    int located = 0;
    for (const std::string& m : listener.Messages(GetCurrentProcessId())) {
        missing += m.find("040c\\strings.bin file does not exist!!!") != std::string::npos;
        located += m.find("Failed to locate Greeting in") != std::string::npos;
    }
    EXPECT_EQ(missing, 1);
    EXPECT_EQ(located, 2);
    GetString(0x0409, out, L":Greeting");
    EXPECT_TRUE(logtest::Heard(listener, "Empty/NULL stringId/bladeName\n"));
}

// Ids without a blade come from the lang folder beside the program.
TEST(StringDB, OwnStringsComeFromBesideTheProgram)
{
    const std::wstring lang = ProgramDir() + L"\\lang";
    CreateDirectoryW(lang.c_str(), nullptr);
    CreateDirectoryW((lang + L"\\0407").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(lang + L"\\0407\\strings.bin", "Own = \"Eigener Text\"\r\n"));
    std::wstring out;
    GetString(0x0807, out, L"Own");  // German (Switzerland) takes the German folder
    win::RemoveTree(lang);
    EXPECT_EQ(out, L"Eigener Text");
    GetString(0x0807, out, L"Own");  // cached: the file is not read again
    EXPECT_EQ(out, L"Eigener Text");
}

// A localised event takes its format from the string database, in the
// system's language and in English, and keeps the id when there is no text.
// The install folder, written with its closing backslash, is traced with
// "\\lang" appended as it stands.
TEST(StringDB, LocalisedEventsUseTheDatabaseAndFallBackToTheId)
{
    ScratchDir install(L"localised");
    CreateDirectoryW((install / L"lang").c_str(), nullptr);
    CreateDirectoryW((install / L"lang\\0409").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(install / L"lang\\0409\\strings.bin", "Deleted = \"Deleted %s\\tnow\"\r\n"));
    ScratchKey blade(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\LocalisedBlade", win::RegView::Bit64);
    win::WriteString(blade.get(), L"szInstallDir64", install.path() + L"\\");
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());

    logtest::ManagerBench bench(L"localised-log");
    bench.WriteConfig("[s]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%l %m\r\nencoding=\r\nfilename=s.log\r\n"
                      "[en]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%m\r\nencoding=\r\nfilename=en.log\r\n"
                      "overrideLocalization=1\r\n");
    bench.Event(LogUtils::Info, true)(L"AGSCommon", L"LocalisedBlade:Deleted", L"x.txt");
    bench.Event(LogUtils::Info, true)(L"AGSCommon", L"LocalisedBlade:Unknown %s", L"y");
    EXPECT_EQ(bench.ReadLog(L"s.log"), "Info Deleted x.txt\tnow\r\nInfo LocalisedBlade:Unknown y\r\n");
    EXPECT_EQ(bench.ReadLog(L"en.log"), "Deleted x.txt\tnow\r\n\r\n");
    const std::string trace = "MyLogger " + std::to_string(GetCurrentThreadId()) + ": " + Narrow(install.path()) + "\\\\lang";
    ASSERT_TRUE(logtest::Heard(listener, trace));
    std::vector<std::string> texts = listener.Messages(GetCurrentProcessId());
    EXPECT_NE(std::find(texts.begin(), texts.end(), trace), texts.end()) << "no trace that is exactly " << trace;
}

}  // namespace
