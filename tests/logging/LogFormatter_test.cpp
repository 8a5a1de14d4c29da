#include "LogEvent.h"
#include "LogFormatter.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

using namespace LogUtils;

namespace {

// 7 December 2026, 13:05:09.042, process 4660, thread 0x2A, an Error of the common library.
struct FixedEvent {
    LogEvent event{"C:\\src\\AGSCommon\\FileName.cpp", 42, ModeSynchronous, Error, logtest::kModule, nullptr, false};
    FixedEvent()
    {
        event.localTime = SYSTEMTIME{2026, 12, 1, 7, 13, 5, 9, 42};
        event.processId = 4660;
        event.threadId = 42;
        event.blade = L"AGSCommon";
        event.wideMessage = L"Nukedir - Deleting file C:\\x\\Gr\u00f6\u00dfe.txt";
        event.messageLength = static_cast<int>(wcslen(event.wideMessage));
    }
    std::string Line(const wchar_t* format, Encoding encoding = EncodingUtf8, bool overrideLocalization = false) const
    {
        std::string line;
        ATLString_OStream out(line);
        LogFormatter().Format(out, format, event, encoding, overrideLocalization);
        return line;
    }
};

TEST(LogFormatter, DatesAndTimes)
{
    FixedEvent f;
    EXPECT_EQ(f.Line(L"%+d %+T"), "2026-12-07 01:05:09.042 PM");
    EXPECT_EQ(f.Line(L"%d %T"), "12-07 01:05:09 PM");
    EXPECT_EQ(f.Line(L"%D|%+D"), "12/07|12/07/2026");
    f.event.localTime.wHour = 0;
    f.event.localTime.wMinute = f.event.localTime.wSecond = 0;
    EXPECT_EQ(f.Line(L"%T"), "12:00:00 AM");
    f.event.localTime.wHour = 12;
    EXPECT_EQ(f.Line(L"%T"), "12:00:00 PM");
    f.event.localTime.wHour = 23;
    EXPECT_EQ(f.Line(L"%-T"), "11:00:00 PM");
}

// Text outside tokens is its characters' low bytes, however long the text:
// a zero low byte ends nothing in a growable line and is kept in a fixed buffer.
TEST(LogFormatter, TextBetweenTokensByteForByte)
{
    FixedEvent f;
    const std::wstring letters = L"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_";  // 64
    const std::wstring format = letters + letters + L"\u0141%l\u0100" + letters + L"%%" + letters.substr(0, 3);
    const std::string bytes(letters.begin(), letters.end());
    EXPECT_EQ(f.Line(format.c_str()), bytes + bytes + "\x41" + "Error" + bytes + "%abc");

    char buffer[400];
    FixedBuffer_OStream out(buffer, buffer + sizeof(buffer));
    LogFormatter().Format(out, format.c_str(), f.event, EncodingUtf8, false);
    EXPECT_EQ(std::string(buffer, out.cursor()), bytes + bytes + "\x41" + "Error" + std::string(1, '\0') + bytes + "%abc");
}

TEST(LogFormatter, NumbersNamesAndSource)
{
    FixedEvent f;
    EXPECT_EQ(f.Line(L"%p %+p %t %+t"), "4660 1234 42 2a");
    f.event.processId = 0x80000001;
    EXPECT_EQ(f.Line(L"%p"), "80000001");
    EXPECT_EQ(f.Line(L"%s:%L"), "FileName.cpp:42");
    EXPECT_EQ(f.Line(L"%+s"), "C:\\src\\AGSCommon\\FileName.cpp");
    EXPECT_EQ(f.Line(L"[%l] %f %F"), "[Error] _T(\"AGSCommon\") AGSCommon");
    EXPECT_EQ(f.Line(L"100%% %Q done %"), "100%  done ");
    EXPECT_EQ(f.Line(L"%P"), "logging_tests");
    EXPECT_EQ(f.Line(L""), "");
    EXPECT_EQ(f.Line(nullptr), "");
    f.event.severity = Debug;
    EXPECT_EQ(f.Line(L"%l"), "Debug");
}

// A logging statement records its source file relative to the project, never
// with the folders of the machine that built it.
TEST(LogFormatter, StatementsRecordTheirSourceRelativeToTheProject)
{
    FixedEvent f;
    f.event.sourceFile = LOGLIB_EVENT(Info, _T("AGSCommon")).sourceFile;
    EXPECT_EQ(f.Line(L"%+s"), "tests/logging/LogFormatter_test.cpp");
    EXPECT_EQ(f.Line(L"%s"), "LogFormatter_test.cpp");
}

TEST(LogFormatter, MessageIsUtf8InEveryEncodingAndBladeFollowsTheEncoding)
{
    FixedEvent f;
    const std::string utf8 = "Nukedir - Deleting file C:\\x\\Gr\xC3\xB6\xC3\x9F" "e.txt";
    EXPECT_EQ(f.Line(L"%m", EncodingAnsi), utf8);
    EXPECT_EQ(f.Line(L"%m", EncodingUnicode), utf8);
    f.event.blade = L"Bl\u00e4de";
    EXPECT_EQ(f.Line(L"%F", EncodingUtf8), "Bl\xC3\xA4" "de");
    EXPECT_EQ(f.Line(L"%F", EncodingAnsi), "Bl\xE4" "de");  // the prefix's ANSI code page is 1252
}

TEST(LogFormatter, ErrorTextFollowsTheMessageAndKeepsTheLastError)
{
    FixedEvent f;
    f.event.wideMessage = L"Failed to delete file x";
    f.event.messageLength = 23;
    f.event.WithError(ERROR_ACCESS_DENIED);
    SetLastError(1234);
    EXPECT_EQ(f.Line(L"%m"), "Failed to delete file x Error=5: Access denied.");
    EXPECT_EQ(GetLastError(), 1234u);
    f.event.errorCode = 0x80070005;
    EXPECT_EQ(f.Line(L"%m").substr(0, 43), "Failed to delete file x Error=0x80070005: A");
}

TEST(LogFormatter, OverrideLocalizationPrintsTheEnglishText)
{
    FixedEvent f;
    f.event.wideMessage = L"Datei gel\u00f6scht";
    f.event.messageLength = static_cast<int>(wcslen(f.event.wideMessage));
    f.event.englishWideMessage = L"File deleted";
    f.event.englishMessageLength = 12;
    EXPECT_EQ(f.Line(L"%m", EncodingUtf8, true), "Datei gel\xC3\xB6scht");  // not localised: no English text
    f.event.hasEnglish = true;
    EXPECT_EQ(f.Line(L"%m", EncodingUtf8, true), "File deleted");
    EXPECT_EQ(f.Line(L"%m", EncodingUtf8, false), "Datei gel\xC3\xB6scht");
}

TEST(LogFormatter, LocaleAndUserTokens)
{
    FixedEvent f;
    wchar_t date[64] = {};
    wchar_t time[64] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &f.event.localTime, nullptr, date, 64);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &f.event.localTime, nullptr, time, 64);
    EXPECT_EQ(f.Line(L"%A"), testing_support::Narrow(std::wstring(date) + L" " + time));
    GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &f.event.localTime, nullptr, date, 64);
    GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &f.event.localTime, nullptr, time, 64);
    EXPECT_EQ(f.Line(L"%a"), testing_support::Narrow(std::wstring(date) + L" " + time));
    wchar_t user[257] = {};
    DWORD size = 257;
    GetUserNameW(user, &size);
    EXPECT_EQ(f.Line(L"%U"), testing_support::Narrow(user));
    EXPECT_EQ(f.Line(L"%w"), "WinSta0");
    EXPECT_EQ(f.Line(L"%i"), "0");
}

}  // namespace
