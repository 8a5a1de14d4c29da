// The malformed-input campaign over every reader of the programs (README,
// "Malformed-input campaign"). Each test replays the saved inputs of earlier
// faults, then runs the reader's share of the short run; ZL_FUZZ_COUNT and
// ZL_FUZZ_SEED make a long run (scripts/fuzz.sh).

#include "Campaign.h"
#include "Readers.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using fuzz::Reader;

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    return folder.erase(folder.rfind(L'\\'));
}

// The names directly inside the places a reader could change by mistake: the
// temporary, Windows and program folders, and the machine's and the user's
// software keys in both views. The scratch space and what the campaign
// itself writes are left out.
std::set<std::wstring> Surroundings(const std::wstring& scratch)
{
    std::set<std::wstring> names;
    wchar_t windows[MAX_PATH] = {}, temp[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetTempPathW(MAX_PATH, temp);
    for (std::wstring folder : {std::wstring(windows), std::wstring(temp), ProgramFolder()}) {
        if (folder.back() != L'\\') folder += L'\\';
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring path = folder + found.cFileName;
            // Sweeper's log folder in the temporary folder is where its reader
            // reports; "zltest-" folders are the scratch folders of test programs.
            if (_wcsicmp(path.c_str(), scratch.c_str()) != 0 && _wcsicmp(found.cFileName, L"fuzz-faults") != 0 &&
                _wcsicmp(found.cFileName, L"ZelmarLogs") != 0 && _wcsnicmp(found.cFileName, L"zltest-", 7) != 0)
                names.insert(path);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    const std::pair<HKEY, const wchar_t*> roots[] = {{HKEY_LOCAL_MACHINE, L"HKLM\\SOFTWARE"},
                                                     {HKEY_CURRENT_USER, L"HKCU\\Software"}};
    for (const auto& [root, label] : roots)
        for (win::RegView view : {win::RegView::Native, win::RegView::Bit64}) {
            win::Key key;
            if (win::OpenKey(root, L"Software", KEY_READ, view, key) != ERROR_SUCCESS) continue;
            wchar_t name[256];
            for (DWORD i = 0;; ++i) {
                DWORD chars = 256;
                if (RegEnumKeyExW(key.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                // The other campaign program's scratch key comes and goes.
                if (_wcsnicmp(name, L"ZlCampaignScratch", 17) != 0) names.insert(std::wstring(label) + L"\\" + name);
            }
        }
    return names;
}

std::string Differences(const std::set<std::wstring>& before, const std::set<std::wstring>& after)
{
    std::string text;
    for (const auto& name : after)
        if (!before.count(name)) text += " added " + fuzz::Utf8(name) + ";";
    for (const auto& name : before)
        if (!after.count(name)) text += " removed " + fuzz::Utf8(name) + ";";
    return text;
}

class Campaign : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = new testing_support::ScratchDir(L"campaign");
        key_ = new testing_support::ScratchKey(HKEY_CURRENT_USER, L"Software\\ZlCampaignScratch" +
                                                                    std::to_wstring(GetCurrentProcessId()));
        // Readers that take a bare file name find it here.
        SetCurrentDirectoryW(scratch_->path().c_str());
        settings_ = fuzz::SettingsFromEnvironment(0);
        printf("[campaign] seed 0x%016llx\n", static_cast<unsigned long long>(settings_.seed));
    }
    static void TearDownTestSuite()
    {
        SetCurrentDirectoryW(ProgramFolder().c_str());
        delete key_;
        delete scratch_;
    }

    // The saved inputs of earlier faults, then shortCount new inputs (or the
    // count the environment asks for). Fails on every input the reader did
    // not pass and on any change outside the scratch space.
    void Run(Reader reader, uint64_t shortCount)
    {
        const auto before = Surroundings(scratch_->path());
        const fuzz::Outcome replayed = fuzz::Replay(reader, ProgramFolder() + L"\\fuzz-regressions", settings_);
        for (const std::string& problem : replayed.problems) ADD_FAILURE() << "regression " << problem;
        fuzz::Settings settings = settings_;
        if (settings.count == 0) settings.count = shortCount;
        const fuzz::Outcome outcome = fuzz::RunCampaign(reader, settings);
        for (const std::string& problem : outcome.problems) ADD_FAILURE() << reader.name << ": " << problem;
        EXPECT_GE(outcome.inputs, settings.count);
        const std::string changed = Differences(before, Surroundings(scratch_->path()));
        EXPECT_TRUE(changed.empty()) << reader.name << " changed what is not its own:" << changed;
    }

    static Reader Find(std::vector<Reader> readers, const char* name)
    {
        for (Reader& reader : readers)
            if (reader.name == name) return reader;
        ADD_FAILURE() << "no reader " << name;
        return {};
    }
    static Reader Common(const char* name) { return Find(fuzz::CommonReaders(scratch_->path(), key_->get()), name); }
#ifndef _WIN64
    static Reader Program(const char* name) { return Find(fuzz::ProgramReaders(scratch_->path(), key_->get()), name); }
#endif

    static testing_support::ScratchDir* scratch_;
    static testing_support::ScratchKey* key_;
    static fuzz::Settings settings_;
};

testing_support::ScratchDir* Campaign::scratch_ = nullptr;
testing_support::ScratchKey* Campaign::key_ = nullptr;
fuzz::Settings Campaign::settings_;

// The short run's inputs per reader, chosen so that both programs finish in a
// few minutes on a loaded machine: the readers that cost a file, a registry
// value or a document per input get fewer (README, "Malformed-input campaign").
#ifdef _WIN64
constexpr uint64_t kFast = 5000, kFileBound = 1500;
#else
constexpr uint64_t kFast = 5000, kFileBound = 1000, kDocument = 500;
#endif

TEST_F(Campaign, LoggingConfigurationAndItsReload) { Run(Common("logcfg"), kFileBound); }
TEST_F(Campaign, StringDatabase) { Run(Common("strings"), kFast); }
TEST_F(Campaign, FormatterFormatStrings) { Run(Common("formats"), kFast); }
TEST_F(Campaign, MessageFormatsWithArguments) { Run(Common("messages"), kFast); }
TEST_F(Campaign, RegistryTextAndNumberValues) { Run(Common("registry"), 2 * kFileBound); }
TEST_F(Campaign, GuardswitchCommandLine) { Run(Common("guardswitch_cmdline"), kFast); }

#ifndef _WIN64
TEST_F(Campaign, IniProfileModel) { Run(Program("profile"), kFast); }
TEST_F(Campaign, SweeperPlan) { Run(Program("sweeper_plan"), kDocument); }
TEST_F(Campaign, AgentLanguageList) { Run(Program("languages_xml"), kDocument); }
TEST_F(Campaign, AgentLanguageExport) { Run(Program("tarvoagt_reg"), 2 * kFileBound); }
TEST_F(Campaign, UprooterCommandLine) { Run(Program("uprooter_cmdline"), kFast); }
TEST_F(Campaign, SweeperCommandLine) { Run(Program("sweeper_cmdline"), 2 * kFast); }
TEST_F(Campaign, SuiteRegistryValues) { Run(Program("suite_values"), kFileBound); }
#endif

}  // namespace
