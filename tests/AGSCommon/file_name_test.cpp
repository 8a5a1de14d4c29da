// The common library's string and path value: separator styles, the failing
// allocation, temporary names and single-file deletion on real files.
#include "FileName.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testing_support;

namespace {

// The common library's entries, "<severity> <message>", in one file for the
// whole program: the logging library takes its configuration when the first
// event of the process is built, whichever test builds it.
std::wstring CommonLogPath()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"deletion-tests-AGSCommon.log";
}

class CommonLogFile : public ::testing::Environment {
    void SetUp() override
    {
        DeleteFileW(CommonLogPath().c_str());
        config_ = std::make_unique<MachineLogConfig>(
            "[AGSCommon]\r\nenabled=1\r\ntype=File\r\nfilter=*.AGSCommon.Error|Warning\r\nformat=%l %m\r\n"
            "encoding=ANSI\r\nfilename=" + Narrow(CommonLogPath()) + "\r\n");
    }
    void TearDown() override
    {
        config_.reset();
        DeleteFileW(CommonLogPath().c_str());
    }
    std::unique_ptr<MachineLogConfig> config_;
};
const auto* const kCommonLogFile = ::testing::AddGlobalTestEnvironment(new CommonLogFile);

std::string LastCommonLogLine()
{
    auto lines = SplitLines(ReadFileBytes(CommonLogPath()));
    return lines.empty() ? "" : lines.back();
}

TEST(MyString, NarrowTextAndFailedAllocation)
{
    CMyString text("caf\xE9");  // the thread's ANSI code page: 1252
    EXPECT_STREQ(text.c_str(), L"caf\u00e9");
    EXPECT_EQ(text.Allocate(0x40000000), nullptr);  // 2 GB: more than a 32-bit process can have
    EXPECT_TRUE(text.IsNone());
    EXPECT_EQ(LastCommonLogLine(), "Error MemAllocPtr failed with 8 error");
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

    CMyString folder, name;
    EXPECT_TRUE(SplitFolderAndName(L"C:/a/b\\c/d", folder, name));  // only at "\\"
    EXPECT_STREQ(folder.c_str(), L"C:/a/b");
    EXPECT_STREQ(name.c_str(), L"c/d");
}

TEST(FileName, TemporaryNamesAndDeletion)
{
    ScratchDir dir(L"file-name");
    FileName name;
    EXPECT_FALSE(name.MakeTempName((dir / L"missing").c_str()));
    EXPECT_TRUE(name.IsNone());
    ASSERT_TRUE(name.MakeTempName(dir.path().c_str()));
    const std::wstring made = name.c_str();
    EXPECT_EQ(made.rfind(dir.path() + L"\\TVO", 0), 0u) << Narrow(made);
    EXPECT_FALSE(FileExists(made)) << "the name is free";

    EXPECT_TRUE(name.Delete()) << "a file already gone";
    ASSERT_TRUE(WriteFileBytes(made, "x"));
    {
        win::Handle held(CreateFileW(made.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(name.Delete());
        EXPECT_EQ(LastCommonLogLine().rfind("Warning Failed to delete file " + Narrow(made) + " Error=32", 0), 0u)
            << LastCommonLogLine();
    }
    EXPECT_TRUE(name.Delete());
    EXPECT_FALSE(FileExists(made));
}

}  // namespace
