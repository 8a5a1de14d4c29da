// The common library's string and path value: separator styles, the failing
// allocation, temporary names and single-file deletion on real files.
#include "FileName.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace testing_support;

namespace {

// The common library's entries, "<severity> <message>", in one file for the
// whole program: the logging library takes its configuration when the first
// event of the process is built, whichever test builds it.
class CommonLogFile : public ::testing::Environment {
public:
    static std::wstring Path()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        return std::wstring(temp) + L"deletion-tests-AGSCommon.log";
    }
    void SetUp() override
    {
        DeleteFileW(Path().c_str());
        config_ = std::make_unique<MachineLogConfig>(
            "[AGSCommon]\r\nenabled=1\r\ntype=File\r\nfilter=*.AGSCommon.Error|Warning|Debug\r\n"
            "format=%l %m\r\nencoding=ANSI\r\nfilename=" + Narrow(Path()) + "\r\n");
    }
    void TearDown() override
    {
        config_.reset();
        DeleteFileW(Path().c_str());
    }

private:
    std::unique_ptr<MachineLogConfig> config_;
};
const auto* const kCommonLogFile = ::testing::AddGlobalTestEnvironment(new CommonLogFile);

// The entries written since construction.
class CommonLog {
public:
    CommonLog() : seen_(Read().size()) {}
    std::vector<std::string> Lines() const
    {
        auto lines = Read();
        return std::vector<std::string>(lines.begin() + static_cast<long>(std::min(seen_, lines.size())), lines.end());
    }

private:
    static std::vector<std::string> Read() { return SplitLines(ReadFileBytes(CommonLogFile::Path())); }
    size_t seen_;
};

TEST(MyString, WideNarrowAndNone)
{
    CMyString text("caf\xE9");  // the thread's ANSI code page: 1252
    EXPECT_STREQ(text.c_str(), L"caf\u00e9");
    CMyString copy = text;
    text = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(text.IsNone());
    EXPECT_STREQ(copy.c_str(), L"caf\u00e9");
    copy.Assign(copy.c_str() + 1, 2);
    EXPECT_STREQ(copy.c_str(), L"af");
    EXPECT_EQ(copy.Capacity(), 3u);
}

TEST(MyString, FailedAllocationLogsAndLeavesNone)
{
    ScratchDir dir(L"mystring-log");
    CommonLog log;
    CMyString text(L"before");
    EXPECT_EQ(text.Allocate(0x40000000), nullptr);  // 2 GB: more than a 32-bit process can have
    EXPECT_TRUE(text.IsNone());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Error MemAllocPtr failed with 8 error"}));
}

TEST(FileName, SeparatorStyles)
{
    FileName slashed(L"C:/data/");
    slashed.Append(L"/logs");
    slashed.Append(L"a.txt");
    EXPECT_STREQ(slashed.c_str(), L"C:/data/logs/a.txt");
    EXPECT_STREQ(slashed.NamePart(), L"a.txt");
    slashed = L"C:\\x\\y";  // the style stays
    slashed.Append(L"z");
    EXPECT_STREQ(slashed.c_str(), L"C:\\x\\y/z");
    EXPECT_STREQ(slashed.NamePart(), L"z");

    FileName plain(L"C:\\dir\\");
    plain.Append(L"\\b.txt");
    EXPECT_STREQ(plain.c_str(), L"C:\\dir\\b.txt");
    EXPECT_STREQ(plain.NamePart(), L"b.txt");
    FileName none;
    none.Append(L"x");
    EXPECT_TRUE(none.IsNone());

    CMyString folder, name;
    EXPECT_TRUE(SplitFolderAndName(L"C:/a/b\\c/d", folder, name));  // only at "\\"
    EXPECT_STREQ(folder.c_str(), L"C:/a/b");
    EXPECT_STREQ(name.c_str(), L"c/d");
    EXPECT_FALSE(SplitFolderAndName(L"C:/a", folder, name));
    EXPECT_TRUE(folder.IsNone());
    EXPECT_STREQ(name.c_str(), L"C:/a");
}

TEST(FileName, DirectoriesAndShortForms)
{
    ScratchDir dir(L"file-name-long folder name");
    EXPECT_TRUE(FileName(dir.path().c_str()).IsDirectory());
    EXPECT_TRUE(FileName(L"Q:").IsDirectory()) << "a bare drive, even a missing one";
    EXPECT_TRUE(FileName(L"q:\\").IsDirectory());
    EXPECT_FALSE(FileName(L"1:\\").IsDirectory());
    EXPECT_FALSE(FileName((dir / L"missing").c_str()).IsDirectory());

    FileName pattern((dir / L"*.tmp").c_str());
    ASSERT_TRUE(pattern.ToShortPath());
    EXPECT_EQ(std::wstring(pattern.NamePart()), L"*.tmp");
    EXPECT_EQ(std::wstring(pattern.c_str()).find(L"long folder name"), std::wstring::npos) << Narrow(pattern.c_str());
    FileName missing((dir / L"missing\\x").c_str());
    EXPECT_FALSE(missing.ToShortPath());
    EXPECT_EQ(std::wstring(missing.c_str()), dir / L"missing\\x");
}

TEST(FileName, TemporaryNames)
{
    ScratchDir dir(L"file-name-temp");
    FileName name;
    ASSERT_TRUE(name.MakeTempName(dir.path().c_str()));
    const std::wstring made = name.c_str();
    EXPECT_EQ(made.rfind(dir.path() + L"\\TVO", 0), 0u) << Narrow(made);
    EXPECT_FALSE(FileExists(made)) << "the name is free";
    EXPECT_FALSE(name.MakeTempName((dir / L"missing").c_str()));
    EXPECT_TRUE(name.IsNone());
}

TEST(FileName, DeleteReportsOnlyRealFailures)
{
    ScratchDir dir(L"file-name-delete");
    CommonLog log;
    const std::wstring file = dir / L"held.txt";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    EXPECT_TRUE(FileName((dir / L"never").c_str()).Delete());
    EXPECT_FALSE(FileName().Delete());
    {
        win::Handle held(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(FileName(file.c_str()).Delete());
    }
    EXPECT_TRUE(FileName(file.c_str()).Delete());
    EXPECT_FALSE(FileExists(file));
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Warning Failed to delete file " + Narrow(file) + " Error=32", 0), 0u) << lines[0];
}

}  // namespace
