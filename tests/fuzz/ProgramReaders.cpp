#include "Readers.h"

#include "Entry.h"
#include "FirefoxComponents.h"
#include "FolderValue.h"
#include "MUIHelper.h"
#include "PlatformInfo.h"
#include "Profile.h"
#include "Registry.h"
#include "SuiteKeys.h"
#include "SweeperConfig.h"
#include "SweeperMain.h"
#include "SweeperTables.h"
#include "Uninstall.h"
#include "reloUni.h"

#include <algorithm>
#include <memory>

namespace fuzz {

namespace {

Reader ProfileReader(const std::wstring& scratch)
{
    Reader reader;
    reader.name = "profile";
    reader.seeds = {"[boot]\r\nshell=Explorer.exe\r\n\r\n[rename]\r\nNUL=C:\\WINDOWS\\zlsvc.dll\r\n"
                    "NUL=C:\\x\\y.sys\r\nC:\\a.dll=C:\\b.dll\r\n",
                    "; comment\r\n[Section]\r\nkey = value with spaces \r\nnoequals\r\n=empty key\r\n",
                    "\xEF\xBB\xBF[a]\nb=c\n", "\xFF\xFE[\0a\0]\0", ""};
    reader.tokens = {"[", "]", "=", "\r\n", "\n", "\r", ";", "NUL=", "[rename]", " ", "\t", "\0", "\xC3\xA4",
                     "\xFF\xFE", "\xEF\xBB\xBF"};
    reader.boundaries = {259, 260, 261, 1023, 1024, 4095, 4096, 32767};
    const std::wstring file = scratch + L"\\WinInit.Ini";
    reader.run = [file](const Bytes& input, std::string& problem) {
        CProfile parsed;
        const bool ok = parsed.Parse(input);
        if (!ok && parsed.SectionCount() != 0) {
            problem = "a refused file left sections";
            return false;
        }
        const bool ascii = std::all_of(input.begin(), input.end(), [](char c) { return (c & 0x80) == 0; });
        // A section name keeps what follows its first ']' and is written with
        // one more ']'; such names are left out here (reported, not decided).
        bool plainNames = true;
        for (size_t at = input.find(']'); at != Bytes::npos && plainNames; at = input.find(']', at + 1)) {
            const size_t next = input.find_first_not_of(" \t", at + 1);
            plainNames = next == Bytes::npos || input[next] == '\r' || input[next] == '\n' || input[next] == ';';
        }
        if (ok && ascii && plainNames) {
            // What a profile writes, it reads back as the same profile. Only
            // for ASCII: it writes UTF-8 without a mark and reads such a file
            // as ANSI, so other letters change on the way (as documented).
            const std::string text = parsed.Text();
            CProfile again;
            if (!again.Parse(text) || again.Text() != text) {
                problem = "the written profile does not read back the same";
                return false;
            }
        }
        if (!ThroughFile(input)) return true;
        if (!WriteWholeFile(file, input)) {
            problem = "cannot write WinInit.Ini";
            return false;
        }
        CProfile loaded;
        if (loaded.Load(file) != ok || loaded.Text() != parsed.Text()) {
            problem = "the file read through Load differs from its bytes parsed";
            return false;
        }
        return true;
    };
    return reader;
}

Reader SweeperPlanReader()
{
    Reader reader;
    reader.name = "sweeper_plan";
    reader.seeds = {ReadSeed(ProgramFolder() + L"\\fuzz-seeds\\SweeperConfig.xml"),
                    "<Sweeper UninstallTimeout=\"1\"><Modules/><Dependencies><UninstallerConfigurationInfo Name=\"a\" "
                    "ProductCode=\"{x}\" Prefix=\"p\"><RefCountBuildValues>1,,2</RefCountBuildValues>"
                    "</UninstallerConfigurationInfo></Dependencies></Sweeper>",
                    "<Other/>"};
    reader.tokens = {"<", ">", "</", "/>", "<Sweeper>", "<Modules>", "<Dependencies>", "<UninstallerConfigurationInfo ",
                     "</UninstallerConfigurationInfo>", "Name=\"", "ProductCode=\"", "\"", "&", "&amp;", "&#0;",
                     "&#xD800;", "<![CDATA[", "]]>", "<!--", "-->", "<?xml version=\"1.0\" encoding=\"utf-16\"?>",
                     "<!DOCTYPE a [<!ENTITY e \"x\">]>", "&e;", ",", "\r\n", "\xC3\xA4", "\xFF\xFE"};
    reader.boundaries = {259, 260, 261, 1023, 1024};
    const std::wstring file = ProgramFolder() + L"\\SweeperConfig.xml";
    reader.run = [file](const Bytes& input, std::string& problem) {
        if (!WriteWholeFile(file, input)) {
            problem = "cannot write SweeperConfig.xml";
            return false;
        }
        sweeper::TheConfiguration() = {};
        sweeper::CSweeperConfigInfoParser parser(L",", sweeper::GetSweeperLog());
        parser.ReadConfiguration();
        for (const auto* list : {&sweeper::TheConfiguration().modules, &sweeper::TheConfiguration().dependencies})
            for (const auto& entry : *list)
                for (const auto& name : entry.RefCountBuildValues)
                    if (name.empty()) {
                        problem = "an empty reference-count value was kept";
                        return false;
                    }
        DeleteFileW(file.c_str());
        return true;
    };
    return reader;
}

Reader LanguageListReader(const std::wstring& scratch)
{
    Reader reader;
    reader.name = "languages_xml";
    reader.seeds = {"<?xml version=\"1.0\"?>\r\n<Languages>\r\n<Language langID=\"0409\" BitmaskBitPosition=\"0\"/>\r\n"
                    "<Language langID=\"040d\" BitmaskBitPosition=\"9\"/>\r\n<Language langID=\"0407\" "
                    "BitmaskBitPosition=\"32767\"/>\r\n</Languages>\r\n",
                    "<Languages><Language langID=\"0409\" BitmaskBitPosition=\"-1\"/></Languages>"};
    reader.tokens = {"<", ">", "</", "/>", "<Language ", "langID=\"0409\"", "langID=\"040D\"", "BitmaskBitPosition=\"",
                     "\"", "&", "&#0;", "<![CDATA[", "]]>", "4294967296", "2147483647", "32768", "\xFF\xFE"};
    reader.boundaries = {259, 260, 261};
    const std::wstring folder = scratch + L"\\agent";
    CreateDirectoryW(folder.c_str(), nullptr);
    reader.run = [folder](const Bytes& input, std::string& problem) {
        if (!WriteWholeFile(folder + L"\\Languages.xml", input)) {
            problem = "cannot write Languages.xml";
            return false;
        }
        // One question per input: each loads the document anew, which is slow.
        static const LANGID languages[] = {0x409, 0x40D, 0x407};
        static const wchar_t* masks[] = {L"FFFF", L"0", L"", L"1F2E3D4C5B6A798800000000000000000000000000000000001"};
        LangUtils::CMUIHelper().IsLanguageInstalled(languages[input.size() % 3], folder, masks[input.size() / 3 % 4]);
        return true;
    };
    return reader;
}

Reader LanguageExportReader(const std::wstring& scratch)
{
    Reader reader;
    reader.name = "tarvoagt_reg";
    reader.wide = true;
    reader.seeds = {Utf16(L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelmar\\"
                          L"ManagedServices\\Agent]\r\n\"XmlLanguageID\"=\"heb\"\r\n"),
                    Utf16(L"\"XmlLanguageID\"=\"deu\"\r\n"), Utf16(L"XmlLanguageID")};
    reader.tokens = {"XmlLanguageID", "\"XmlLanguageID\"=\"heb\"", "\"", "=", "heb", "HEB", "\r\n", "\0"};
    // The file is read into a buffer of 9998 bytes.
    reader.boundaries = {4980, 4990, 4997, 4998, 4999, 5000};
    const std::wstring file = scratch + L"\\TarvoAgt_l.Reg";
    reader.run = [file](const Bytes& input, std::string& problem) {
        if (!WriteWholeFile(file, input)) {
            problem = "cannot write TarvoAgt_l.Reg";
            return false;
        }
        std::wstring language;
        const bool required = IsRTLSupportRequired(language, [](const wchar_t*) {});
        if (required && _wcsicmp(language.c_str(), L"heb") != 0) {
            problem = "right to left without Hebrew";
            return false;
        }
        return true;
    };
    return reader;
}

Reader UprooterCommandLineReader()
{
    Reader reader;
    reader.name = "uprooter_cmdline";
    reader.wide = true;
    reader.seeds = {Utf16(L"\"C:\\Support\\Uprooter.exe\" /suppressprompt /supressreboot"),
                    Utf16(L"Uprooter.exe -a -f"), Utf16(L"Uprooter.exe /h"), Utf16(L"Uprooter.exe  \"\"  -")};
    reader.tokens = {" ", "\"", "\\", "\\\"", "/", "-", "-a", "-f", "-?", "/all", "/suppressprompt", "\t", "\0"};
    reader.boundaries = {259, 260, 261, 32767, 32768};
    auto uni = std::make_shared<reloUni>();  // one run log for the whole campaign
    reader.run = [uni](const Bytes& input, std::string&) {
        std::wstring line = AsWide(input);
        uni->logdataClobber(line.c_str());
        MajorVersion(line);
        return true;
    };
    return reader;
}

Reader SweeperCommandLineReader()
{
    Reader reader;
    reader.name = "sweeper_cmdline";
    reader.wide = true;
    reader.seeds = {Utf16(L"/qn"), Utf16(L"  /QN \"a b\"\t/x"), Utf16(L"\"unclosed /qn")};
    reader.tokens = {" ", "\t", "\"", "/qn", "\0", "\\"};
    reader.boundaries = {1023, 1024, 1025};
    reader.run = [](const Bytes& input, std::string& problem) {
        const std::wstring line = AsWide(input);
        const auto tokens = sweeper::SplitCommandLine(line.c_str());
        size_t total = 0;
        for (const auto& token : tokens) total += token.size();
        if (total > wcslen(line.c_str()) ||
            std::any_of(tokens.begin(), tokens.end(), [](const std::wstring& t) { return t.empty(); })) {
            problem = "tokens that are not pieces of the command line";
            return false;
        }
        return true;
    };
    return reader;
}

// The suite's keys that the value readers look at, made for the campaign and
// removed after it in both views.
class SuiteValueKeys {
public:
    SuiteValueKeys()
    {
        for (size_t v = 0; v < 2; ++v)
            for (size_t t = 0; t < 2; ++t) {
                win::Key top;
                existed_[v][t] = win::OpenKey(HKEY_LOCAL_MACHINE, kTops[t], KEY_READ, kViews[v], top) == ERROR_SUCCESS;
            }
        for (const wchar_t* path : kPaths)
            for (win::RegView view : kViews) {
                win::Key key;
                win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, view, key);
            }
    }
    // Only what the campaign made goes; a prefix that held the keys keeps them.
    ~SuiteValueKeys()
    {
        for (size_t v = 0; v < 2; ++v)
            for (size_t t = 0; t < 2; ++t)
                if (!existed_[v][t]) win::DeleteTree(HKEY_LOCAL_MACHINE, kTops[t], kViews[v]);
    }
    SuiteValueKeys(const SuiteValueKeys&) = delete;
    SuiteValueKeys& operator=(const SuiteValueKeys&) = delete;

    // Every value the readers take, set to the input.
    void Write(const Bytes& input)
    {
        static const std::pair<const wchar_t*, const wchar_t*> values[] = {
            {L"SOFTWARE\\Mozilla\\Mozilla Firefox", L"CurrentVersion"},
            {kManagedServicesKey, L"szInstallDir"},
            {L"SOFTWARE\\Zelmar\\ZuzadaZozi", L"szInstallDir32"},
            {L"SOFTWARE\\Zelmar\\ZuzadaZozi", L"szInstallDir64"},
            {sweeper::kCommonKey, L"BuildNumber"},
            {sweeper::kCommonKey, L"PackageNumber"}};
        for (const auto& [path, name] : values)
            for (win::RegView view : kViews) {
                win::Key key;
                if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_SET_VALUE, view, key) == ERROR_SUCCESS)
                    WriteValueFromInput(key.get(), name, input);
            }
    }

private:
    static constexpr const wchar_t* kPaths[] = {L"SOFTWARE\\Mozilla\\Mozilla Firefox", kManagedServicesKey,
                                                L"SOFTWARE\\Zelmar\\ZuzadaZozi", sweeper::kCommonKey};
    static constexpr const wchar_t* kTops[] = {L"SOFTWARE\\Mozilla", L"SOFTWARE\\Zelmar"};
    static constexpr win::RegView kViews[] = {win::RegView::Native, win::RegView::Bit64};
    bool existed_[2][2] = {};
};

Reader SuiteValueReader()
{
    Reader reader;
    reader.name = "suite_values";
    reader.seeds = {ValueSeed(REG_SZ, L"3.6.28 (en-US)"), ValueSeed(REG_SZ, L"10.2.1100"),
                    ValueSeed(REG_EXPAND_SZ, L"%ProgramFiles%\\Zelmar\\Managed Quellor"),
                    ValueSeed(REG_SZ, L"C:\\Program Files\\Zelmar\\AGSSYSCORE\\"), ValueSeed(REG_SZ, L"040d"),
                    Bytes("\x03\x07\x00\x00\x00", 5)};
    reader.tokens = {".", "%", "%ProgramFiles%", "%UNDEFINED%", "\\", "\0\0", "-", " "};
    // The install-folder and path buffers (MAX_PATH) in bytes of UTF-16.
    reader.boundaries = {518, 519, 520, 521, 522};
    auto keys = std::make_shared<SuiteValueKeys>();
    sweeper::SweeperConfiguration config;
    config.dependencies.resize(1);
    config.dependencies[0].RefCountBuildValues = {L"10.2.1100.7", L"1.1"};
    reader.run = [keys, config](const Bytes& input, std::string& problem) {
        keys->Write(input);
        int major = 0, minor = 0;
        GetFirefoxVersion(major, minor);
        GetAgentVersion();
        std::wstring folder;
        if (GetZuzadaZoziFolder(folder) && folder.size() >= kPathChars) {
            problem = "a folder longer than its buffer was taken";
            return false;
        }
        sweeper::Uninstaller(sweeper::GetSweeperLog(), config).BuildCheck();
        // The same text as the language helper's inputs.
        const std::wstring text = AsWide(input.substr(std::min<size_t>(input.size(), 1)));
        const std::wstring cut(text.c_str());
        LangUtils::CMUIHelper helper;
        for (int bit : {0, 7, 8, 63, 64, 0x7FFF}) LangUtils::IsBitSetInHexMask(cut, bit);
        helper.IsRightToLeft(cut);
        helper.LanguageFromAbbreviation(cut);
        MajorVersion(cut);
        return true;
    };
    return reader;
}

}  // namespace

std::vector<Reader> ProgramReaders(const std::wstring& scratch, HKEY)
{
    return {ProfileReader(scratch),          SweeperPlanReader(),         LanguageListReader(scratch),
            LanguageExportReader(scratch),   UprooterCommandLineReader(), SweeperCommandLineReader(),
            SuiteValueReader()};
}

}  // namespace fuzz
