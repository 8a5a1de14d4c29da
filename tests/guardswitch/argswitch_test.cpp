// The switch list of module argswitch: how switches are found on a command
// line, and how a broken link is reported instead of followed.
#include "DbWinListener.h"
#include "Scratch.h"
#include "argswitch.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Found {
    bool given;
    std::wstring value;
};

// Parses a command line (program name first) for one switch of a fresh list.
Found Look(const wchar_t* name, bool takesValue, std::vector<const wchar_t*> args)
{
    SwitchList list;
    CArgSwitch item(name, takesValue, list);
    args.insert(args.begin(), L"Guardswitch_x64.exe");
    std::vector<std::wstring> owned(args.begin(), args.end());
    std::vector<wchar_t*> argv;
    for (auto& a : owned) argv.push_back(a.data());
    list.Parse(static_cast<int>(argv.size()), argv.data());
    return {item.given(), item.value()};
}

TEST(SwitchParsing, SwitchesNeedALeadingMinusOrSlashAndIgnoreCase)
{
    EXPECT_TRUE(Look(L"EnableSP", false, {L"-enablesp"}).given);
    EXPECT_TRUE(Look(L"EnableSP", false, {L"/ENABLESP"}).given);
    EXPECT_TRUE(Look(L"DisableSP", false, {L"other", L"/DisableSp"}).given);
    EXPECT_FALSE(Look(L"EnableSP", false, {L"enablesp"}).given) << "no leading character";
    EXPECT_FALSE(Look(L"EnableSP", false, {L"\\enablesp"}).given);
    EXPECT_FALSE(Look(L"EnableSP", false, {L"/enable"}).given) << "a prefix is not the name";
    EXPECT_FALSE(Look(L"EnableSP", false, {L"/enablesp2"}).given);
    EXPECT_FALSE(Look(L"EnableSP", false, {L"/enablesp:1"}).given) << "a flag takes no value text";
    EXPECT_FALSE(Look(L"EnableSP", false, {}).given);
}

TEST(SwitchParsing, TheProgramNameIsNeverASwitch)
{
    SwitchList list;
    CArgSwitch item(L"EnableSP", false, list);
    wchar_t name[] = L"/EnableSP";
    wchar_t* argv[] = {name};
    list.Parse(1, argv);
    EXPECT_FALSE(item.given());
}

TEST(SwitchParsing, AValueFollowsTheEarlierOfColonAndEqualsOrIsTheNextArgument)
{
    struct Case {
        std::vector<const wchar_t*> args;
        std::wstring value;
    } cases[] = {
        {{L"/level:3"}, L"3"},
        {{L"-LEVEL=3"}, L"3"},
        {{L"/level:a=b"}, L"a=b"},
        {{L"/level=a:b"}, L"a:b"},
        {{L"/level", L"7"}, L"7"},
        {{L"/level"}, L""},
        {{L"/level:first", L"/level:second"}, L"first"},
    };
    for (auto& c : cases) {
        Found found = Look(L"level", true, c.args);
        EXPECT_TRUE(found.given) << "argument " << testing::PrintToString(std::wstring(c.args[0]));
        EXPECT_EQ(found.value, c.value) << "argument " << testing::PrintToString(std::wstring(c.args[0]));
    }
}

TEST(SwitchParsing, EverySwitchOfTheListLooksForItself)
{
    SwitchList list;
    CArgSwitch enable(L"EnableSP", false, list);
    CArgSwitch disable(L"DisableSP", false, list);
    wchar_t a0[] = L"x.exe", a1[] = L"/disablesp", a2[] = L"-EnableSP";
    wchar_t* argv[] = {a0, a1, a2};
    list.Parse(3, argv);
    EXPECT_TRUE(enable.given());
    EXPECT_TRUE(disable.given());
}

// A broken link is reported through the logging library and the list is left
// as it was. The machine's logcfg.ini sends the reports to the debugger output
// as "<source>(<line>): <module>: <text>".
class SwitchListFaults : public ::testing::Test {
protected:
    testing_support::MachineLogConfig config{
        "[SwitchList]\r\nenabled=1\r\ntype=OutputDebugString\r\nfilter=TmpLogger.TmpLogger.Debug\r\n"
        "format=%+s(%L): %f: %m\r\nencoding=ANSI\r\n"};
    testing_support::DbWinListener output;

    void SetUp() override { ASSERT_TRUE(output.ok()) << "cannot listen to the debugger output"; }

    // The one report expected, or a failure showing all that was seen.
    void ExpectReport(const std::string& text)
    {
        auto texts = output.Texts();
        size_t hits = std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
            return t.rfind(".\\argswitch(", 0) == 0 && t.size() >= text.size() + 1 &&
                   t.compare(t.size() - text.size() - 1, text.size() + 1, text + "\n") == 0;
        });
        std::string seen;
        for (auto& t : texts) seen += "  | " + t + "\n";
        EXPECT_EQ(hits, 1u) << "expected one report ending in \"" << text << "\", saw:\n" << seen;
    }
};

// Whether a parse over the list reaches the named switch.
bool Reaches(SwitchList& list, CArgSwitch& item)
{
    std::wstring flag = L"/" + item.name();
    wchar_t program[] = L"x.exe";
    wchar_t* argv[] = {program, flag.data()};
    list.Parse(2, argv);
    return item.given();
}

TEST_F(SwitchListFaults, ASecondUnregistrationIsReportedAndChangesNothing)
{
    SwitchList list;
    CArgSwitch first(L"first", false, list);
    CArgSwitch second(L"second", false, list);
    ASSERT_TRUE(list.Unregister(second));
    EXPECT_FALSE(list.Unregister(second));
    ExpectReport("TmpLogger: ASSERT - *prev == this.");
    EXPECT_TRUE(Reaches(list, first));
    ASSERT_TRUE(list.Register(second));  // back in, so that its destructor finds it
}

TEST_F(SwitchListFaults, RegisteringBehindAHeadThatBelongsElsewhereIsReported)
{
    SwitchList list, other;
    CArgSwitch head(L"head", false, list);
    ASSERT_TRUE(other.Register(head));  // the head's back link now points into the other list
    CArgSwitch late(L"late", false, list);
    ExpectReport("TmpLogger: ASSERT - next->prev == prev.");
    EXPECT_FALSE(Reaches(list, late)) << "the refused switch must not be linked";
    EXPECT_TRUE(Reaches(list, head));
}

TEST_F(SwitchListFaults, UnlinkingInFrontOfASwitchThatMovedAwayIsReported)
{
    SwitchList list, other;
    CArgSwitch moved(L"moved", false, list);
    CArgSwitch front(L"front", false, list);  // list: front -> moved
    ASSERT_TRUE(other.Register(moved));
    EXPECT_FALSE(list.Unregister(front));
    ExpectReport("TmpLogger: ASSERT - next->prev == &next.");
    EXPECT_TRUE(Reaches(list, front)) << "the list must be left as it was";
}

}  // namespace
