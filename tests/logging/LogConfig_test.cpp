#include "DbWinListener.h"
#include "LogConfig.h"
#include "LogEvent.h"
#include "LogFilter.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

using namespace LogUtils;
using namespace testing_support;

namespace {

const char kFull[] = "type=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=UTF-8\r\nenabled=1\r\n";

struct Loaded {
    ScratchDir dir{L"logcfg-read"};
    std::unique_ptr<IniLogConfiguration> config;
    explicit Loaded(const std::string& ini)
    {
        WriteFileBytes(dir / L"logcfg.ini", ini);
        config = std::make_unique<IniLogConfiguration>(dir / L"logcfg.ini", LogConfigValidator(),
                                                       LogConfigFilter(L"enabled", L"1", L'='));
    }
    std::vector<int> Numbers() const
    {
        std::vector<int> numbers;
        for (int i = 0; i < 16; ++i) {
            if (config->Find(i)) numbers.push_back(i);
        }
        return numbers;
    }
};

TEST(LogConfiguration, NamesMatchByPrefixInTableOrder)
{
    EXPECT_EQ(EncodingFromName(L"utf"), EncodingUtf8);
    EXPECT_EQ(EncodingFromName(L"U"), EncodingUtf8);
    EXPECT_EQ(EncodingFromName(L"Unicode"), EncodingUnicode);
    EXPECT_EQ(EncodingFromName(L"ansi"), EncodingAnsi);
    EXPECT_EQ(EncodingFromName(L"latin1"), EncodingUtf8);
    EXPECT_EQ(SinkTypeFromName(L"syslog"), SinkSyslog);
    EXPECT_EQ(SinkTypeFromName(L"E"), SinkEtw);
    EXPECT_EQ(SinkTypeFromName(L"Outputdebug"), SinkOutputDebugString);
    EXPECT_EQ(SinkTypeFromName(L"pipe"), SinkFile);
    EXPECT_EQ(SeverityFromName(L"Warn"), Warning);
    EXPECT_EQ(SeverityFromName(L"E"), Emergency);
    EXPECT_EQ(SeverityFromName(L"*"), Debug);
}

TEST(LogConfiguration, SectionsAreCheckedAndCompiled)
{
    Loaded l(std::string("[LOGCFG]\r\nloggingmode=0\r\n") +                                       // 0: no required keys
             "[ok]\r\n" + kFull +                                                                  // 1
             "[true]\r\ntype=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=\r\nenabled=TRUE\r\n"   // 2: dropped
             "[case]\r\ntype=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=\r\nEnabled=1\r\n"      // 3: dropped
             "[nofmt]\r\ntype=File\r\nfilter=*.*.*\r\nencoding=\r\nenabled=1\r\n"                  // 4: dropped
             "[ansi]\r\ntype=syslog\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=\r\nenabled=1\r\n"    // 5
             "[wide]\r\ntype=bogus\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=Unicode\r\nenabled=1\r\n"
             "overrideLocalization=TRUE\r\n"                                                        // 6
             "[twice]\r\ntype=\r\nfilter=*.*.*\r\nformat=a\r\nformat=b\r\nencoding=xyz\r\nenabled=1\r\n"
             "no equals sign here\r\n");                                                            // 7
    EXPECT_EQ(l.Numbers(), (std::vector<int>{1, 5, 6, 7}));
    EXPECT_EQ(l.config->Find(1)->GetEncoding(), EncodingUtf8);
    EXPECT_EQ(l.config->Find(5)->GetEncoding(), EncodingAnsi);
    EXPECT_EQ(l.config->Find(5)->GetSinkType(), SinkSyslog);
    EXPECT_EQ(l.config->Find(6)->GetEncoding(), EncodingUnicode);
    EXPECT_EQ(l.config->Find(6)->GetSinkType(), SinkFile);
    EXPECT_TRUE(l.config->Find(6)->GetOverrideLocalization());
    EXPECT_FALSE(l.config->Find(1)->GetOverrideLocalization());
    EXPECT_EQ(l.config->Find(7)->GetEncoding(), EncodingUtf8);
    EXPECT_STREQ(l.config->Find(7)->Lookup(L"format"), L"b");
    EXPECT_EQ(l.config->Find(7)->Lookup(L"no equals sign here"), nullptr);
}

TEST(LogConfiguration, AnEmptySectionEndsReadingAndAMissingFileIsEmpty)
{
    Loaded l(std::string("[a]\r\n") + kFull + "[empty]\r\n[b]\r\n" + kFull);
    EXPECT_EQ(l.Numbers(), std::vector<int>{0});
    IniLogConfiguration missing(l.dir / L"none.ini", LogConfigValidator(), LogConfigFilter(L"enabled", L"1", L'='));
    EXPECT_EQ(missing.size(), 0u);
}

TEST(LogConfiguration, AnOverlongSectionEndsReadingWithATrace)
{
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    std::string ini = std::string("[a]\r\n") + kFull + "[nokey]\r\nenabled=1\r\ntype=File\r\n[long]\r\n" + kFull +
                      "padding=" + std::string(1100, 'x') + "\r\n[b]\r\n" + kFull;
    Loaded l(ini);
    EXPECT_EQ(l.Numbers(), std::vector<int>{0});
    EXPECT_TRUE(logtest::Heard(listener, "Section [nokey] of "));
    EXPECT_TRUE(logtest::Heard(listener, "Section [long] of "));
}

// The names are read with 2048, 4096 and 6144 characters; more means no configuration.
TEST(LogConfiguration, SectionNamesUpTo6144CharactersAreRead)
{
    auto sections = [](int count) {
        std::string ini;
        for (int i = 0; i < count; ++i) {
            char name[64];
            snprintf(name, sizeof(name), "[section-with-a-long-name-%04d]\r\n", i);
            ini += name + std::string(kFull);
        }
        return ini;
    };
    Loaded fits(sections(180));  // about 5600 characters of names
    EXPECT_EQ(fits.config->size(), 180u);
    Loaded tooMany(sections(250));  // about 7800
    EXPECT_EQ(tooMany.config->size(), 0u);
}

struct FilterCase {
    const wchar_t* filter;
    int severity;
    const char* module;
    const wchar_t* blade;
    bool taken;
};

TEST(LogFilter, FilterLanguage)
{
    const FilterCase cases[] = {
        {L"*.*.Error|Warning", Error, logtest::kModule, L"AGSCommon", true},
        {L"*.*.Error|Warning", Warning, "other", L"x", true},
        {L"*.*.Error|Warning", Info, logtest::kModule, L"AGSCommon", false},
        {L"*.*.*", Debug, logtest::kModule, L"AGSCommon", true},
        {L"*.*.*", Error, logtest::kModule, L"AGSCommon", false},
        {L"*.*.Warn", Warning, logtest::kModule, L"AGSCommon", true},
        {L"*.*.E", Emergency, logtest::kModule, L"AGSCommon", true},
        {L"*.*.E", Error, logtest::kModule, L"AGSCommon", false},
        {L"_t(\"AGS.*.Info", Info, logtest::kModule, L"AGSCommon", true},
        {L"AGSCommon.*.Info", Info, logtest::kModule, L"AGSCommon", false},
        {L"*.AGSCommon.Info", Info, logtest::kModule, L"AGSCommon", true},
        {L"*.AGSCommon.Info", Info, logtest::kModule, L"agscommon", false},
        {L"*.Other|AGSCommon.Info||Error", Error, logtest::kModule, L"AGSCommon", true},
        {L".*.Info", Info, logtest::kModule, L"AGSCommon", true},
        {L"*.Info", Info, logtest::kModule, L"AGSCommon", false},
        {L"", Info, logtest::kModule, L"AGSCommon", false},
        {L"*.*.Info.x", Info, logtest::kModule, L"AGSCommon", false},  // one piece "Info.x": Debug
        {L"*.*.Info.x", Debug, logtest::kModule, L"AGSCommon", true},
    };
    FilterEvaluator evaluator;
    PropertyMap globals;
    for (const FilterCase& c : cases) {
        LogEvent event(__FILE__, __LINE__, ModeSynchronous, c.severity, c.module, nullptr, false);
        event.blade = c.blade;
        EXPECT_EQ(evaluator.Evaluate(CompiledFilter(c.filter), event, LogPropertiesOnMapImpl(globals)), c.taken)
            << "filter \"" << Narrow(c.filter) << "\" severity " << c.severity << " module " << c.module;
    }
}

TEST(DebugTrace, PrefixesTheThreadAndCutsTheTextAt2047Characters)
{
    DbWinListener listener;
    ASSERT_TRUE(listener.ok());
    const std::wstring text = L"trace " + std::wstring(3000, L'y');
    SetLastError(4321);
    DebugTrace(L"%s", text.c_str());
    EXPECT_EQ(GetLastError(), 4321u);
    const std::string prefix = "MyLogger " + std::to_string(GetCurrentThreadId()) + ": ";
    ASSERT_TRUE(logtest::Heard(listener, prefix + "trace yyy"));
    for (const std::string& m : listener.Messages(GetCurrentProcessId())) {
        if (m.compare(0, prefix.size(), prefix) == 0) {
            EXPECT_EQ(m, prefix + Narrow(text.substr(0, 2047)));
        }
    }
}

// The default log directory decides where every bare file name goes.
TEST(DefaultLogDirectory, ComesFromDeflogdirOrTheCommonFolder)
{
    ScratchDir dir(L"deflogdir");
    const std::wstring wanted = dir / L"a\\b\\c";
    SetEnvironmentVariableW(L"DEFLOGDIR", wanted.c_str());
    EXPECT_EQ(ComputeDefaultLogDirectory(), wanted);
    EXPECT_TRUE(FileExists(wanted));

    // Undefined: the fallback folder, never a folder named after the variable.
    SetEnvironmentVariableW(L"DEFLOGDIR", nullptr);
    EXPECT_EQ(ComputeDefaultLogDirectory(), logtest::CommonAppData() + L"\\Zelmar\\Endpoint Guard\\Logs");
    EXPECT_TRUE(FileExists(logtest::CommonAppData() + L"\\Zelmar\\Endpoint Guard\\Logs"));
    EXPECT_FALSE(FileExists(L"%DEFLOGDIR%"));
}

}  // namespace
