// The user-interface language chosen for Uprooter's own strings and for the
// agent's resources. The same program runs once per user language (Wine takes
// it from LC_ALL); each case states what every one of those languages expects.
#include "MUIHelper.h"
#include "PlatformInfo.h"
#include "Scratch.h"
#include "UprooterStrings.h"

#include <shlobj.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr wchar_t kEnglishCaption[] = L"%s Cleanup Utility";
constexpr wchar_t kGermanCaption[] = L"%s Bereinigungsprogramm";

struct UserLanguageRow {
    LANGID user;
    const wchar_t* caption;  // the string table holds US English and German
    LANGID effective;        // with the agent's resources in 0409 and 0407, partner default 1031
};

const UserLanguageRow kUserLanguages[] = {
    {0x0409, kEnglishCaption, 0x0409},  // found as it is
    {0x0407, kGermanCaption, 0x0407},   // found as it is
    {0x0807, kGermanCaption, 0x0407},   // through its base language
    {0x0809, kEnglishCaption, 0x0409},  // through its base language
    {0x040C, kEnglishCaption, 0x0407},  // no French: US English; the partner default for the agent
};

const UserLanguageRow& ThisUserLanguage()
{
    for (const UserLanguageRow& row : kUserLanguages)
        if (row.user == GetUserDefaultUILanguage()) return row;
    ADD_FAILURE() << "no expectations for user language " << GetUserDefaultUILanguage();
    return kUserLanguages[0];
}

class UserInterfaceLanguage : public ::testing::Test {
protected:
    void Configure(const wchar_t* language)
    {
        if (!desktopUi)
            desktopUi =
                std::make_unique<ScratchKey>(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\ManagedServices\\DesktopUI");
        win::WriteString(desktopUi->get(), L"LANGID", language);
    }
    void TearDown() override
    {
        desktopUi.reset();
        connector.reset();
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            win::DeleteTree(root, L"SOFTWARE\\Zelmar\\ManagedServices", win::RegView::Native);
            for (win::RegView view : {win::RegView::Bit64, win::RegView::Native})
                for (const wchar_t* key : {L"SOFTWARE\\Zelmar\\Endpoint\\Common", L"SOFTWARE\\Zelmar\\Endpoint",
                                           L"SOFTWARE\\Zelmar"})
                    RegDeleteKeyExW(root, key, static_cast<REGSAM>(view), 0);
        }
    }
    std::unique_ptr<ScratchKey> desktopUi;
    std::unique_ptr<ScratchKey> connector;
};

TEST_F(UserInterfaceLanguage, StringsComeInTheBestLanguageTheTableHolds)
{
    const UserLanguageRow& row = ThisUserLanguage();
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION), row.caption) << "nothing configured";
    // LoadStringW would follow the thread's locale; the table is searched by language.
    LCID thread = GetThreadLocale();
    SetThreadLocale(MAKELCID(row.caption == kGermanCaption ? 0x0409 : 0x0407, SORT_DEFAULT));
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION), row.caption) << "thread locale changed";
    SetThreadLocale(thread);

    Configure(L"1031");
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION), kGermanCaption);
    EXPECT_EQ(LoadLocalizedString(IDS_NOT_ADMINISTRATOR),
              L"Sie m\u00fcssen Administrator sein, um dieses Programm zu verwenden.");
    Configure(L"1033");
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION), kEnglishCaption);
    EXPECT_EQ(LoadLocalizedString(IDS_PRODUCT_NAME), L"Zelmar Cloudward") << "in a block German holds";
    EXPECT_EQ(LoadLocalizedString(IDS_DEFAULT_PRODUCT_NAME + 1), L"") << "outside the table";
    Configure(L"1036");
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION), row.caption) << "configured without strings";
}

TEST_F(UserInterfaceLanguage, UprooterCarriesTheTable)
{
    win::Module uprooter(
        LoadLibraryExW(BuildPath(L"uprooter\\Uprooter.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(uprooter);
    Configure(L"1031");
    EXPECT_EQ(LoadLocalizedString(IDS_CLEANUP_CAPTION, uprooter.get()), kGermanCaption);
    EXPECT_EQ(LoadLocalizedString(IDS_FIREWALL_MODULES + 1, uprooter.get()), L"zlFwCtl.dll");
}

// Every language must see the whole file lists: a list cut short would leave
// the suite's files registered.
TEST_F(UserInterfaceLanguage, FileListsAreWholeInEveryLanguage)
{
    const struct {
        UINT first;
        UINT endCaption;
    } lists[] = {{IDS_AGENT_COM_LIBRARIES, IDS_AGENT_COM_LIBRARIES_END},
                 {IDS_OEM_COM_LIBRARIES, IDS_OEM_COM_LIBRARIES_END},
                 {IDS_SCANNER_COM_LIBRARIES, IDS_SCANNER_COM_LIBRARIES_END},
                 {IDS_AGENT_LOCAL_SERVERS, IDS_AGENT_LOCAL_SERVERS_END},
                 {IDS_SCANNER_PROGRAMS, IDS_SCANNER_PROGRAMS_END},
                 {IDS_DRIVER_FILES, IDS_DRIVER_FILES_END},
                 {IDS_FIREWALL_MODULES, IDS_FIREWALL_MODULES_END},
                 {IDS_SCANNER64_MODULES, IDS_SCANNER64_MODULES_END}};
    std::vector<std::wstring> english;
    for (const wchar_t* configured : {L"1033", L"1031"}) {
        Configure(configured);
        std::vector<std::wstring> seen;
        for (const auto& list : lists) {
            SCOPED_TRACE(list.first);
            EXPECT_NE(LoadLocalizedString(list.first), L"") << "caption";
            EXPECT_NE(LoadLocalizedString(list.endCaption), L"") << "end caption";
            UINT id = list.first + 1;
            for (; id < list.endCaption && LoadLocalizedString(id) != L"0"; ++id) {
                EXPECT_NE(LoadLocalizedString(id).find(L'.'), std::wstring::npos) << id << " is no file name";
                seen.push_back(LoadLocalizedString(id));
            }
            EXPECT_GT(id, list.first + 1) << "an empty list";
            EXPECT_LT(id, list.endCaption) << "no \"0\" ends the list";
        }
        if (english.empty()) english = seen;
        EXPECT_EQ(seen, english) << "configured " << Narrow(configured);
    }
}

TEST_F(UserInterfaceLanguage, EffectiveLanguageNeedsTheAgentsResources)
{
    LangUtils::CMUIHelper helper;
    EXPECT_EQ(helper.GetEffectiveUILanguage(), 0x0409u) << "no agent";

    ScratchDir agent(L"agent-res");
    for (const wchar_t* language : {L"0409", L"0407"})
        SHCreateDirectoryExW(nullptr, (agent / (L"Agent\\Res\\" + std::wstring(language))).c_str(), nullptr);
    connector = std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\Endpoint\\Common\\AGSConnector",
                                             win::RegView::Bit64);
    win::WriteString(connector->get(), L"szInstallDir", agent.path());
    win::WriteString(connector->get(), L"szPartnerDefaultLanguage", L"1031");
    EXPECT_EQ(helper.GetEffectiveUILanguage(), ThisUserLanguage().effective);
}

}  // namespace
