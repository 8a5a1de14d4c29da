// The language helper against the real registry, file system, MSXML and
// locale data of the prefix.
#include "MUIHelper.h"
#include "Scratch.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;
using LangUtils::CMUIHelper;

namespace {

constexpr wchar_t kConnectorKey[] = L"SOFTWARE\\Zelmar\\Endpoint\\Common\\AGSConnector";

class LanguageHelper : public ::testing::Test {
protected:
    CMUIHelper helper;

    void TearDown() override
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (win::RegView view : {win::RegView::Native, win::RegView::Bit64}) {
                win::DeleteTree(root, L"SOFTWARE\\Zelmar\\ManagedServices", view);
                win::DeleteTree(root, L"SOFTWARE\\Zelmar\\Endpoint", view);
                win::DeleteTree(root, L"SOFTWARE\\Zelmar\\ZuzadaZozi", view);
                RegDeleteKeyExW(root, L"SOFTWARE\\Zelmar", static_cast<REGSAM>(view), 0);
            }
        }
        win::DeleteTree(HKEY_CURRENT_USER, L"SOFTWARE\\Netwarden", win::RegView::Native);
    }
    void Configure(const wchar_t* language)
    {
        win::Key key;
        win::CreateKey(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\ManagedServices\\DesktopUI", KEY_ALL_ACCESS,
                       win::RegView::Native, key);
        win::WriteString(key.get(), L"LANGID", language);
    }
    // The agent connector key, with the agent's folder as an expandable value.
    void InstallAgent(const ScratchDir& folder, const wchar_t* bitmask = nullptr)
    {
        win::Key key;
        win::CreateKey(HKEY_LOCAL_MACHINE, kConnectorKey, KEY_ALL_ACCESS, win::RegView::Bit64, key);
        wchar_t temp[MAX_PATH] = {};
        GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
        ASSERT_EQ(folder.path().rfind(temp, 0), 0u);
        win::WriteString(key.get(), L"szInstallDir", L"%TEMP%" + folder.path().substr(wcslen(temp)), REG_EXPAND_SZ);
        if (bitmask) win::WriteString(key.get(), L"szPartnerSupportedInstalledLanguages", bitmask);
    }
};

TEST_F(LanguageHelper, EffectiveLanguageIsTheConfiguredOneOrUsEnglish)
{
    EXPECT_EQ(helper.GetEffectiveLanguageText(), L"0409") << "nothing configured, no agent";
    EXPECT_FALSE(helper.IsRightToLeft(helper.GetEffectiveLanguageText()));
    for (const wchar_t* nothing : {L"0", L"Hebrew"}) {
        Configure(nothing);
        DWORD language = 0;
        EXPECT_FALSE(helper.ReadConfiguredLanguage(language)) << Narrow(nothing);
        EXPECT_EQ(helper.GetEffectiveUILanguage(), 0x0409u) << Narrow(nothing);
    }
    Configure(L"1037");
    EXPECT_EQ(helper.GetEffectiveUILanguage(), 1037u);
    EXPECT_EQ(helper.GetEffectiveLanguageText(), L"040d");
    EXPECT_TRUE(helper.IsRightToLeft(helper.GetEffectiveLanguageText()));
    std::wstring text;
    EXPECT_TRUE(helper.GetConfiguredLcidText(text));
    EXPECT_EQ(text, L"0000040d");
    EXPECT_TRUE(helper.GetConfiguredLanguageAbbreviation(text));
    EXPECT_EQ(text, L"HEB");
}

TEST_F(LanguageHelper, RightToLeftAndBaseLanguages)
{
    EXPECT_TRUE(helper.IsRightToLeft(L"0401"));
    EXPECT_TRUE(helper.IsRightToLeft(LANGID{0x0820}));
    EXPECT_FALSE(helper.IsRightToLeft(L"zz")) << "read as US English";
    LANGID catalan = 1027, japanese = 1041;
    EXPECT_TRUE(helper.MapToSupportedLanguage(catalan));
    EXPECT_EQ(catalan, 1034);
    EXPECT_FALSE(helper.MapToSupportedLanguage(japanese));
    EXPECT_EQ(japanese, 1041);
}

TEST_F(LanguageHelper, AbbreviationsAreWindowsOwn)
{
    EXPECT_EQ(helper.LanguageFromAbbreviation(L"deu"), 0x0407);
    EXPECT_EQ(helper.LanguageFromAbbreviation(L"EN"), 0);
    // One language of every group, back from what Windows calls it.
    for (LANGID language : {0x0401, 0x0404, 0x0807, 0x1409, 0x0c0a, 0x140c, 0x0810, 0x083e, 0x0813, 0x0814, 0x0816,
                            0x081d, 0x0843, 0x1404, 0x040d, 0x0419, 0x0411}) {
        std::wstring abbreviation;
        ASSERT_TRUE(helper.GetLanguageAbbreviation(language, abbreviation)) << language;
        EXPECT_EQ(helper.LanguageFromAbbreviation(abbreviation), language) << Narrow(abbreviation);
    }
}

TEST_F(LanguageHelper, InstalledLanguagesFollowTheListAndTheBitmask)
{
    EXPECT_TRUE(LangUtils::IsBitSetInHexMask(L"100", 8));  // read as "0100"
    EXPECT_FALSE(LangUtils::IsBitSetInHexMask(L"100", 0));
    EXPECT_FALSE(LangUtils::IsBitSetInHexMask(L"1", 8));

    ScratchDir folder(L"languages");
    ASSERT_TRUE(WriteFileBytes(folder / L"Languages.xml",
                               "<?xml version=\"1.0\"?>\r\n<Languages>\r\n  <!-- the agent's list -->\r\n"
                               "  <Language langID=\"0407\" BitmaskBitPosition=\"0\"/>\r\n"
                               "  <Language langID=\"040C\" BitmaskBitPosition=\"8\"/>\r\n"
                               "  <Language langID=\"0410\"/>\r\n</Languages>\r\n"));
    EXPECT_TRUE(helper.IsLanguageInstalled(0x0407, folder.path(), L"1"));
    EXPECT_TRUE(helper.IsLanguageInstalled(0x040c, folder.path(), L"100")) << "langID in another case";
    EXPECT_FALSE(helper.IsLanguageInstalled(0x040c, folder.path(), L"")) << "no bitmask: the resource folder";
    EXPECT_FALSE(helper.IsLanguageInstalled(0x0410, folder.path(), L"ff")) << "no bit position";
    EXPECT_FALSE(helper.IsLanguageInstalled(0x0407, L"", L"1")) << "no folder at all";

    // The agent's own folder and bitmask win over the ones given.
    ScratchDir agent(L"agent-languages");
    ASSERT_TRUE(WriteFileBytes(agent / L"Languages.xml",
                               "<Languages><Language langID=\"0407\" BitmaskBitPosition=\"1\"/></Languages>"));
    InstallAgent(agent, L"2");
    EXPECT_TRUE(helper.IsLanguageInstalled(0x0407, folder.path(), L"1"));
}

TEST_F(LanguageHelper, ResourceLanguagesAreTheAgentsValidFolders)
{
    std::vector<LANGID> languages;
    EXPECT_FALSE(helper.GetResourceLanguages(languages)) << "no agent";

    ScratchDir agent(L"agent-res");
    for (const wchar_t* name : {L"0407", L"0409", L"notalanguage", L"ffff"})
        SHCreateDirectoryExW(nullptr, (agent / L"Agent\\Res\\" + name).c_str(), nullptr);
    WriteFileBytes(agent / L"Agent\\Res\\0410", "a file, not a folder");
    InstallAgent(agent);

    EXPECT_TRUE(helper.GetResourceLanguages(languages));
    std::sort(languages.begin(), languages.end());
    // A name that is no language counts as US English.
    EXPECT_EQ(languages, (std::vector<LANGID>{0x0407, 0x0409, 0x0409}));
    int calls = 0;
    EXPECT_TRUE(helper.ForEachResourceLanguage(
        [](LANGID, void* context) { return ++*static_cast<int*>(context) == 0; }, &calls));
    EXPECT_EQ(calls, 1) << "the walk stops when the callback says so";
}

TEST_F(LanguageHelper, ResetRemovesTheConfiguredLanguageAndTheComponentsCopies)
{
    EXPECT_FALSE(helper.ResetConfiguredLanguage()) << "no desktop user interface key";
    Configure(L"1031");
    win::Key qlCore, netwarden, component;
    win::CreateKey(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCore", KEY_ALL_ACCESS, win::RegView::Native,
                   qlCore);
    win::WriteString(qlCore.get(), L"PreferredLanguage", L"1031");
    win::CreateKey(HKEY_CURRENT_USER, L"SOFTWARE\\Netwarden", KEY_ALL_ACCESS, win::RegView::Native, netwarden);
    win::WriteString(netwarden.get(), L"LanguageOverride", L"1031");
    win::CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\QuellorRelo",
                   KEY_READ, win::RegView::Native, component);

    EXPECT_TRUE(helper.ResetConfiguredLanguage());
    EXPECT_TRUE(helper.ResetConfiguredLanguage()) << "nothing left to reset";
    DWORD language = 0;
    EXPECT_FALSE(helper.ReadConfiguredLanguage(language));
    std::wstring value;
    EXPECT_EQ(win::ReadString(qlCore.get(), L"PreferredLanguage", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::ReadString(netwarden.get(), L"LanguageOverride", value), ERROR_SUCCESS)
        << "web safety is not installed: its choice stays";
}

class LanguageSettings : public LanguageHelper {
protected:
    std::wstring exportFile = WindowsFolder() + L"\\ags.reg";
    void SetUp() override { DeleteFileW(exportFile.c_str()); }
    void TearDown() override
    {
        DeleteFileW(exportFile.c_str());
        LanguageHelper::TearDown();
    }
    static std::wstring WindowsFolder()
    {
        wchar_t folder[MAX_PATH] = {};
        GetWindowsDirectoryW(folder, MAX_PATH);
        return folder;
    }
};

TEST_F(LanguageSettings, ExportWritesRegistryFileLinesIntoTheWindowsFolder)
{
    EXPECT_TRUE(helper.SetPartnerDefaultLanguage(1031, true));
    EXPECT_TRUE(helper.SetAdminPreferredLanguage(L"deu", true));
    EXPECT_FALSE(helper.SetPartnerSupportedLanguages(L"", true));
    EXPECT_EQ(ReadFileBytes(exportFile),
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelmar\\Endpoint\\Common\\Agsconnector]\r\n"
              "\"szPartnerDefaultLanguage\"=\"1031\"\r\n\"szAdminPreferredLanguage\"=\"deu\"\r\n");
}

// The connector key lives in the 64-bit view: a setting written is the one read back.
TEST_F(LanguageSettings, RegistryModeWritesTheConnectorKeyIn64BitViewWhereItIsRead)
{
    EXPECT_FALSE(helper.SetPartnerSupportedLanguages(L"0101", false)) << "no connector key";
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, kConnectorKey, KEY_ALL_ACCESS, win::RegView::Bit64, key),
              ERROR_SUCCESS);
    EXPECT_TRUE(helper.SetPartnerSupportedLanguages(L"0101", false));
    EXPECT_FALSE(helper.SetAdminPreferredLanguage(L"", false));
    std::wstring value;
    EXPECT_EQ(win::ReadString(key.get(), L"szPartnerSupportedInstalledLanguages", value), ERROR_SUCCESS);
    EXPECT_EQ(value, L"0101");
    EXPECT_EQ(win::ReadString(key.get(), L"szAdminPreferredLanguage", value), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FileExists(exportFile));
    EXPECT_TRUE(helper.SetPartnerDefaultLanguage(1031, false));
    EXPECT_EQ(helper.GetPartnerDefaultLanguage(), 1031u);
}

TEST_F(LanguageHelper, CountryAndUiLanguagesComeFromWindows)
{
    EXPECT_EQ(helper.GetCountry(), L"CountryCulture=US");
    win::Key key;
    win::CreateKey(HKEY_CURRENT_USER, L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Registration", KEY_ALL_ACCESS,
                   win::RegView::Native, key);
    win::WriteString(key.get(), L"szCountry", L"DE");
    EXPECT_EQ(helper.GetCountry(), L"cCountryISO=DE");

    std::vector<std::wstring> languages{L"kept"};
    EXPECT_TRUE(helper.GetInstalledUILanguages(languages));
    ASSERT_GT(languages.size(), 1u);
    EXPECT_EQ(languages[0], L"kept");
    EXPECT_NE(std::find(languages.begin(), languages.end(), L"0409"), languages.end());
    for (size_t i = 1; i < languages.size(); ++i)
        EXPECT_EQ(languages[i].find_first_not_of(L"0123456789abcdefABCDEF"), std::wstring::npos)
            << Narrow(languages[i]);
}

}  // namespace
