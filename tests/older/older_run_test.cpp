// The older suite's road, end to end: the suite laid by the testbed's stager,
// Uprooter.exe /suppressprompt /supressreboot started by a Windows program
// from the folder that holds it, and an audit of the machine against how it
// was before the suite was laid. Never without /supressreboot: with "-f" or
// an answered question the run would restart the computer for real.
#include <gtest/gtest.h>

#include "OlderStage.h"
#include "ScriptEngines.h"
#include "SuiteStage.h"
#include "SweeperTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <iostream>
#include <optional>

using namespace testing_support;
using namespace older_tests;
using namespace sweeper_tests;

namespace {

constexpr wchar_t kMainKey[] = L"SOFTWARE\\Zelmar\\ManagedServices";
constexpr wchar_t kFirewallKey[] = L"SOFTWARE\\Zelmar\\Personal Firewall";

bool MachineKeyExists(const std::wstring& path, win::RegView view)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

std::wstring EngineModule(const wchar_t* clsid, win::RegView view)
{
    win::Key key;
    wchar_t module[MAX_PATH] = {};
    if (win::OpenKey(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32", KEY_READ, view, key) ==
        ERROR_SUCCESS)
        win::ReadStringInto(key.get(), nullptr, module, MAX_PATH);
    return module;
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// --- The users' hives, the web-safety component, Firefox, the 64-bit links --------

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool LinkExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// --- The suite's components -----------------------------------------------------

std::wstring InstallFolder() { return stage::OlderInstallFolder(); }

std::wstring ShortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return buffer;
}

// The programs the component steps start, as their stand-ins record them
// ("<image>: short|long <command line>"), in the steps' order; taken before
// the run, while the programs and their short names exist.
std::vector<std::string> ExpectedProgramCalls()
{
    const std::wstring install = InstallFolder(), tray = install + L"\\DesktopUI\\ZTray.exe";
    const std::wstring installer = install + (stage::IsWindows64() ? L"\\Qengine64" : L"\\Qengine") + L"\\zlmhidin.exe";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string drivers = " -u zlmhid.sys zlmflt.sys zlmnet.sys";
    auto shortStart = [](const char* image, const std::wstring& program, const std::string& arguments) {
        return std::string(image) + ": short " + Narrow(ShortForm(program)) + " " + arguments;
    };
    const std::wstring coreTool = stage::CommonFiles32() + L"\\Zelmar\\AGSSYSCORE\\zlmhidin.exe";
    return {"ZTray.exe: long \"" + Narrow(tray) + "\"",  // as the stager started it
            // The host-intrusion firewall's uninstallation, among the firewalls before the components.
            shortStart("zlmhidin.exe", coreTool,
                       "-u AGSFIREWALL -l \"" + Narrow(temp) + "AGSFIREWALL_Uninstall.log\" -x grds.xml Firecore"),
            shortStart("ZTray.exe", tray, " /CloseAll"),
            "ZTray.exe: closeall",
            shortStart("olaavfin.exe", install + L"\\Qengine\\olaavfin.exe", " -u"),
            shortStart("zlmhidin.exe", installer, drivers),
            "zlmhidin.exe: long \"" + Narrow(installer) + "\" " + drivers,
            shortStart("zlmhidin.exe", coreTool,
                       "-u AGSQUELLOR -l \"" + Narrow(temp) +
                           "AGSQUELLOR_Uninstall.log\" -x grds.xml OAS ScriptScan EmailScan"),
            shortStart("tvAgtHost.exe", install + L"\\Agent\\tvAgtHost.exe", " /UnregServer"),
            shortStart("tvUpdater.exe", install + L"\\Agent\\tvUpdater.exe", " /UnregServer"),
            shortStart("tvUsrSrvMain.exe", install + L"\\Agent\\tvUsrSrvMain.exe", " /UnregServer")};
}

// The record's lines of those programs (other stand-ins' lines left out).
std::vector<std::string> ProgramCalls(const std::wstring& record)
{
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(ReadFileBytes(record)))
        for (const char* image : {"ZTray.exe: ", "olaavfin.exe: ", "zlmhidin.exe: ", "tvAgtHost.exe: ", "tvUpdater.exe: ",
                                  "tvUsrSrvMain.exe: "})
            if (line.rfind(image, 0) == 0) calls.push_back(line);
    return calls;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The COM server modules' unregistrations, "<bits> <module>" in lower case, in
// the steps' order: the old script scanner (32-bit in-process, 64-bit through
// the registration server), the newer core's (64-bit first), the masked
// modules of "\Agent" and "\Qengine", the string table's lists, then the
// masked modules of "\Qengine64".
std::vector<std::string> ExpectedUnregistrations()
{
    const bool wide = stage::IsWindows64();
    const std::wstring install = InstallFolder(), zozi = L"\\Zelmar\\ZuzadaZozi";
    std::vector<std::pair<int, std::wstring>> calls = {{32, install + L"\\Qengine\\qlScrScan.dll"}};
    if (wide) {
        calls.push_back({64, install + L"\\Qengine64\\qlScrScan64.dll"});
        calls.push_back({64, stage::CommonFilesNative() + zozi + L"\\zlss64.dll"});
    }
    calls.push_back({32, stage::CommonFiles32() + zozi + L"\\zlss32.dll"});
    calls.push_back({32, install + L"\\Agent\\tvPluginMail.dll"});
    calls.push_back({wide ? 64 : 32, install + L"\\Agent\\tvAddinShell.dll"});
    for (const wchar_t* module : {L"\\Qengine\\qlScnModCore.dll", L"\\Agent\\tvAgtCore.dll", L"\\Agent\\tvAgtEvt.dll",
                                  L"\\Agent\\tvAgtPol.dll", L"\\Agent\\tvUpload.dll", L"\\Qengine\\qlEngine.dll",
                                  L"\\Qengine\\qlOaScan.dll", L"\\Qengine\\qlOdScan.dll", L"\\Agent\\zlOemBrand.dll"})
        calls.push_back({32, install + module});
    if (wide) calls.push_back({64, install + L"\\Qengine64\\qlScnMod64.dll"});
    std::vector<std::string> expected;
    for (const auto& [bits, module] : calls) expected.push_back(Lower(std::to_string(bits) + " " + Narrow(module)));
    return expected;
}

// The record's unregistrations of the expected modules, in its order.
std::vector<std::string> Unregistrations(const std::wstring& record, const std::vector<std::string>& expected)
{
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(ReadFileBytes(record))) {
        const size_t start = line.find(' ') + 1, end = line.find(" com=");
        const std::string call = Lower(line.substr(start, end - start));
        if (std::find(expected.begin(), expected.end(), call) != expected.end()) calls.push_back(call);
    }
    return calls;
}

// What a running program of the footprint ends with: the tray program's own
// code on " /CloseAll", a console program's own once closed, and the code the
// removal ends one with that ignores WM_CLOSE.
DWORD OwnExitCode(const stage::ProgramItem& program)
{
    for (const auto& [name, value] : program.environment) {
        if (name == L"ZL_COMPONENT_WINDOW") return 42;
        if (name == L"ZL_WINDOWED_EXIT") return std::wcstoul(value.c_str(), nullptr, 10);
    }
    return 0;
}

// "registered", "running" or "gone".
std::string ServiceState(const std::wstring& name)
{
    win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    win::ServiceHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) return "gone";
    return status.dwCurrentState == SERVICE_STOPPED ? "registered" : "running";
}

std::wstring MailExtension(const wchar_t* name)
{
    win::Key key;
    std::wstring text;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions", KEY_READ,
                     win::RegView::Native, key) == ERROR_SUCCESS)
        win::ReadString(key.get(), name, text);
    return text;
}

class OlderRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& folder : {app_, caller_, records_}) CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(BuildPath(L"uprooter\\Uprooter.exe").c_str(), (app_ + L"\\Uprooter.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\stub\\launcher.exe").c_str(), (caller_ + L"\\launcher.exe").c_str(),
                              FALSE));
        before_ = stage::TakeSnapshot(suite_, Compared());
        undo_.emplace(suite_, before_);
        std::vector<std::wstring> problems = stage::Lay(suite_);
        std::string text;
        for (const std::wstring& problem : problems) text += "\n    " + Narrow(problem);
        ASSERT_TRUE(problems.empty()) << "staging failed:" << text;
    }

    // As a support engineer runs it: from the folder that holds it, started by
    // another Windows program, restart suppressed.
    DWORD Run()
    {
        ScopedEnv record(L"ZL_DEFENDER_LOG", calls_);
        ScopedEnv programs(L"ZL_COMPONENT_RECORD", records_ + L"\\components.txt");
        ScopedEnv modules(L"ZL_COM_LOG", records_ + L"\\com.txt");
        return RunAndWait(L"\"" + caller_ + L"\\launcher.exe\" \"" + app_ + L"\\Uprooter.exe\" /suppressprompt /supressreboot",
                          app_, 600000);
    }

    std::vector<std::wstring> Compared() const { return {app_, caller_}; }
    std::vector<std::wstring> Ignored() const
    {
        std::vector<std::wstring> ignored = {caller_ + L"\\Uprooter.log", app_ + L"\\Uprooter.log", calls_,
                                             records_ + L"\\components.txt", records_ + L"\\com.txt"};
        for (const stage::ProgramItem& program : suite_.programs)
            ignored.push_back(records_ + program.path.substr(program.path.rfind(L'\\')) + L".txt");
        return ignored;
    }
    stage::Audit Audit() const { return stage::TakeAudit(suite_, before_, Compared(), Ignored()); }

    void ExpectPrefixAsFound()
    {
        undo_.reset();
        std::string changes;
        for (const std::wstring& change : stage::ChangesSince(suite_, before_, Compared(), Ignored()))
            changes += "\n    " + Narrow(change);
        EXPECT_TRUE(changes.empty()) << "expected the prefix as before staging; found:" << changes;
    }

    ScratchDir root_{L"older-run"};
    const std::wstring app_ = root_ / L"Uprooter", caller_ = root_ / L"caller", calls_ = root_ / L"MpClient.calls",
                       records_ = root_ / L"records";
    const stage::Footprint suite_ = stage::OlderSuite(TestbedSources(records_));
    stage::Snapshot before_;
    std::optional<StagingUndo> undo_;
};

TEST_F(OlderRun, UprooterRemovesTheSuiteAndNothingElse)
{
    // (The suite's components, below: what their programs must record.)
    const std::vector<std::string> programCalls = ExpectedProgramCalls();
    EXPECT_EQ(Run(), 0u) << "Uprooter's exit code after the older suite's removal";

    // The entry's lines beside the program that started it (Defender's
    // restore logs there too); the sequence's own log beside Uprooter.exe.
    const std::vector<std::string> callerLog = SplitLines(ReadFileBytes(caller_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(callerLog, {"Starting Uprooter...", "CurrentVersion is lesser than 10.0.0",
                                            "Uninstalling older product", "Restoring previous Windows Defender Status...",
                                            "Got Previous WDStatus as 1", "Restoring the previous windows defender status 1",
                                            "Completed setting WD status to 1...", "Closing logfile object: *"}));
    const std::vector<std::string> runLog = SplitLines(ReadFileBytes(app_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(
        runLog, {"Opened logfile object: *", "Uprooter.Exe, Version 6.0.2.001, ", " In removeProduct()",
                 "Set dwUnInstalling flag to 1", "Restoring path variable: *", "Opened logfile object: *",
                 "Deviations detected in VBScript and/or JavaScript registrations were fixed successfully",
                 "Supressing Reboot as per Command Line", "Closing logfile object: *", "Closing logfile object: *"}));

    // The time budget: one line per step in the road's order, then the whole
    // road. The uninstallers are children; the service stop polls.
    const std::string split = " took * ms (waiting for children * ms, fixed waits * ms, own work * ms)";
    std::vector<std::string> steps;
    for (const char* step : {"component discovery", "RemoveTarvoFirewall", "RestoreDefenderState", "CloseTrayPrograms",
                             "StopAgentServices", "RunComponentUninstallers", "UnregisterComponentFiles",
                             "CleanMisDirectories", "RemoveStartupEntries", "the suite's keys", "removeProduct",
                             "CheckAndRestoreScriptEngines"})
        steps.push_back(std::string("Uprooter.Exe, Timing: ") + step + split);
    EXPECT_TRUE(ContainsInOrder(runLog, steps));
    EXPECT_GT(StepTime(runLog, "RunComponentUninstallers", "waiting for children"), 0);
    EXPECT_GT(StepTime(runLog, "StopAgentServices", "fixed waits"), 0);
    EXPECT_EQ(StepTime(runLog, "RemoveStartupEntries", "waiting for children"), 0);
    for (const std::string& line : runLog)
        if (line.find("Timing: ") != std::string::npos) std::cout << line << "\n";

    // The suite's main keys are gone, and so is the mark of a removal under way.
    for (win::RegView view : stage::Views())
        for (const wchar_t* key : {kMainKey, kFirewallKey, L"SOFTWARE\\Zelmar Uprooter"})
            EXPECT_FALSE(MachineKeyExists(key, view)) << Narrow(key) << " is still there";

    // The engines are the system's again, in each view.
    for (win::RegView view : stage::Views()) {
        EXPECT_EQ(EngineModule(L"{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}", view), SystemFolder() + L"\\JScript.dll");
        EXPECT_EQ(EngineModule(L"{B54F3741-5B07-11cf-A4B0-00AA004A55E8}", view), SystemFolder() + L"\\VBScript.dll");
    }
    // Defender was asked for its state and then to enable.
    EXPECT_EQ(SplitLines(ReadFileBytes(calls_)), (std::vector<std::string>{"WDStatus -> 0", "WDEnable 1"}));

    // --- The suite's components -------------------------------------------------
    // The tray program closed itself on " /CloseAll" and the console programs
    // on WM_CLOSE, each with its own exit code, but for the one that ignores it
    // and was ended; the agent's services are stopped and those of the
    // deletion list deleted; the uninstallers,
    // tools and local servers were started with their command lines, the COM
    // server modules unregistered, each in the steps' order; the scanners'
    // hooks, files and keys are gone.
    for (const stage::ProgramItem& program : suite_.programs) {
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(stage::ProgramExitCode(program, code)) << Narrow(program.path) << " still runs";
        EXPECT_EQ(code, OwnExitCode(program)) << Narrow(program.path);
        if (program.readyVariable != L"ZL_WINDOWED_READY") continue;
        const std::wstring record = records_ + program.path.substr(program.path.rfind(L'\\')) + L".txt";
        EXPECT_TRUE(ContainsInOrder(SplitLines(ReadFileBytes(record)), {"started " + Narrow(program.path), "close windowed 1"}))
            << Narrow(record);
    }
    for (const stage::ServiceItem& service : suite_.services)
        EXPECT_EQ(ServiceState(service.name), "gone") << Narrow(service.name);
    EXPECT_EQ(ProgramCalls(records_ + L"\\components.txt"), programCalls);
    const std::vector<std::string> unregistrations = ExpectedUnregistrations();
    EXPECT_EQ(Unregistrations(records_ + L"\\com.txt", unregistrations), unregistrations);
    const std::string engine = Narrow(InstallFolder()) + "\\Qengine\\";
    const std::string oldScanners = "Software\\Ostrand Labs\\KRX\\Shared Components\\";
    EXPECT_TRUE(ContainsInOrder(
        runLog, {"Uninstall Pre-QLCORE 14.2 Email and Script scanners", "uprooter.Exe, Inside uninstEmailScanner()",
                 "uprooter.Exe, Deleted Email Scanner file " + engine + "qlOutlook.dll",
                 "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\" + oldScanners + "On Access Scanner\\Sentrel\\E-Mail Scan",
                 "uprooter.Exe, Trying to open HKEY_LOCAL_MACHINE\\" + oldScanners + "On Demand Scanner",
                 "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDemand",
                 "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDemandDetectionOptions",
                 "uprooter.Exe, Deleted Script Scanner file " + engine + "qlScrScan.dll",
                 "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\" + oldScanners + "On Access Scanner\\ScriptScan"}));
    EXPECT_EQ(MailExtension(L"Exchange Scan"), L"");
    EXPECT_EQ(MailExtension(L"Outlook Setup Extension"), L"4.0;Outxxx.dll;7;000000000000000;0000000000;OutXXX");
    // --- End of the suite's components -------------------------------------------

    // --- Registration leftovers, program groups, installer temporaries, firewalls ---
    // The firewall generations' programs were started as the removal starts
    // them; the leftovers themselves are the audit's (the footprint's lists).
    const std::vector<std::string> missingLaunches = MissingFirewallLaunches(SplitLines(ReadFileBytes(records_ + L"\\components.txt")));
    EXPECT_TRUE(missingLaunches.empty()) << ReadFileBytes(records_ + L"\\components.txt");
    const std::vector<std::wstring> left = Audit().stillPresent;
    for (const wchar_t* gone : {L"\\Tarvo\\PFW", L"\\zlPfwDrv", L"ScanNow", L"Zelmar Managed Quellor Tray.lnk",
                                L"\\TVO0002.TMP", L"Zelmar Home"})
        EXPECT_FALSE(Mentions(left, gone)) << Narrow(gone) << " is still there";
    // Without "-a" the products' logs stay in the shared data folder.
    EXPECT_TRUE(Mentions(left, stage::CommonAppData() + L"\\Zelmar\\ZLLOGS"));
    // --- end of registration leftovers, program groups, installer temporaries, firewalls ---

    // Of the whole suite only two things stay: the install folder, which waits for the restart because Wine cannot remove the link to another
    // product's folder inside it at once (never followed; docs/wine.md), and
    // the shared data folder's own sub-folders, which go only with the
    // Complete-cleanup option "-a" (older_restart_test.cpp).
    // Nothing outside the suite changed and another product's data survived.
    const stage::Audit audit = Audit();
    const std::string described = Narrow(stage::Describe(audit));
    for (const std::wstring& gone : {std::wstring(kMainKey), std::wstring(kFirewallKey), std::wstring(L"\\InprocServer32\\:"),
                                     std::wstring(kScriptScanHelperObject), std::wstring(L"\\Zelmar\\AGSSYSCORE")})
        EXPECT_FALSE(Mentions(audit.stillPresent, gone)) << Narrow(gone) << " still in:\n" << described;
    for (const std::wstring& left : audit.stillPresent) {
        const bool expected = left.rfind(stage::ProgramFiles32() + L"\\Zelmar\\Managed Quellor", 0) == 0 ||
                              left.find(L"\\ProgramData\\Zelmar\\") != std::wstring::npos;
        EXPECT_TRUE(expected) << Narrow(left) << " still present:\n" << described;
    }
    EXPECT_TRUE(audit.outsideChanged.empty()) << described;
    EXPECT_TRUE(audit.plantedMissing.empty()) << described;
    std::cout << described;

    // --- The users' hives, the web-safety component, Firefox, the 64-bit links ---
    {
        // The suite's keys left the current user's hive; another product's key
        // there stayed (the audit would name either).
        EXPECT_FALSE(Mentions(audit.stillPresent, L"HKCU\\")) << described;
        // The logged-off user's hive was loaded, cleaned and unloaded again:
        // none is left loaded, and its file loads with another product's key
        // in it (the audit loads it). Under Wine a deletion inside a loaded
        // hive never reaches its file, so only the unload and the other
        // product's key are seen here; the deletion inside it is proven by
        // tests/AGSCommon/user_hives_test.cpp while the hive is loaded.
        EXPECT_FALSE(Mentions(audit.stillPresent, L"is still loaded")) << described;
        EXPECT_FALSE(Mentions(audit.plantedMissing, L"NTUSER.DAT")) << described;

        // The suite's service account is deleted when the agent folder is
        // unregistered (Wine knows no such account, so its deletion answers
        // "not found"), and with the account gone, its profile folder, which
        // the removal layer protects among the profiles, went too.
        EXPECT_TRUE(ContainsInOrder(runLog, {"reloUni::unRegFileFromMask: Searching for: *tvUsrSrv*.exe",
                                             "No SID for user <ZelmarMQLUser>", "user ZelmarMQLUser not found",
                                             "Cleaning up ZelmarMQLUser profile dir"}))
            << ReadFileBytes(app_ + L"\\Uprooter.log");
        EXPECT_FALSE(Mentions(audit.stillPresent, L"\\ZelmarMQLUser")) << described;

        // The web-safety component's uninstaller ran as registered, its module
        // was unregistered in-process, and its keys and records are gone.
        const std::wstring webSafety = stage::OlderInstallFolder() + L"\\BrowseProtection";
        const std::string command = Narrow(L"\"" + webSafety + L"\\NWUninstall.exe\" /uninstall /silent");
        EXPECT_TRUE(Has(SplitLines(ReadFileBytes(records_ + L"\\components.txt")), "NWUninstall.exe: long " + command))
            << ReadFileBytes(records_ + L"\\components.txt");
        const std::string module = Narrow(webSafety) + "\\nwSubSys.dll";
        const std::vector<std::string> unregistered = SplitLines(ReadFileBytes(records_ + L"\\com.txt"));
        EXPECT_TRUE(std::any_of(unregistered.begin(), unregistered.end(), [&](const std::string& line) {
            return line.rfind("DllUnregisterServer 32 " + module + " ", 0) == 0;
        })) << ReadFileBytes(records_ + L"\\com.txt");
        EXPECT_TRUE(ContainsInOrder(runLog, {"Removing NW...", "Launching " + command, "Ok... unregisterd " + module + "...",
                                             "Successfully removed Installer\\Products\\72A9B3D6E1C408F4B9D2E7A5C1F3B810..."}));
        // (Its data folder stays without "-a", as the suite's other data folders.)
        for (const wchar_t* gone : {L"ZelmarBrowserProtection", L"SOFTWARE\\Zelmar\\Netwarden", L"Zelmar\\Netwarden Enterprise",
                                    L"BrowseProtection", L"72A9B3D6E1C408F4B9D2E7A5C1F3B8",
                                    L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B0"})
            EXPECT_FALSE(Mentions(audit.stillPresent, gone)) << Narrow(gone) << " still in:\n" << described;

        // The suite's Firefox components went, Firefox's own file stayed (the
        // audit), and Firefox registers its components again at its next start.
        const std::wstring firefox = stage::ProgramFiles32() + L"\\Mozilla Firefox";
        EXPECT_TRUE(Has(runLog, "Successfully deleted " + Narrow(firefox) + "\\components\\nsZlWebSafe.js"))
            << ReadFileBytes(app_ + L"\\Uprooter.log");
        EXPECT_FALSE(Mentions(audit.stillPresent, firefox)) << described;
        EXPECT_EQ(ReadFileBytes(firefox + L"\\.autoreg"), std::string("autoreg\0", 8));

        // On 64-bit Windows the links themselves went (their 32-bit targets,
        // the suite's keys, go with the registration leftovers).
        if (stage::IsWindows64()) {
            for (const char* key : {"ManagedServices", "QLCORE", "ZuzadaZozi"})
                EXPECT_TRUE(Has(runLog, std::string("Successfully removed Symbolic link under ") + key + " key")) << key;
            for (const stage::RegistryLinkItem& link : suite_.registryLinks)
                EXPECT_FALSE(LinkExists(link.path)) << Narrow(link.path);
        }
    }

    // A second run on the cleaned machine harms nothing and says so. Without
    // the suite's main key, the marker or the suite's core key the agent's
    // version reads as the newer suite's, so Uprooter takes that road; with no
    // Sweeper.exe beside it, it stops there.
    DeleteFileW(calls_.c_str());
    EXPECT_EQ(Run(), 0u) << "Uprooter's exit code on the cleaned machine";
    const std::vector<std::string> again = SplitLines(ReadFileBytes(caller_ + L"\\Uprooter.log"));
    EXPECT_TRUE(ContainsInOrder(again, {"Uninstalling older product", "Starting Uprooter...",
                                        "Agent version not found and no unfinished removal of the older product: "
                                        "nothing of it to remove",
                                        "Uninstalling newer product",
                                        "LaunchCleanupUtility(): FindFirstFile failed for File Sweeper.exe error: 2"}));
    EXPECT_FALSE(FileExists(calls_)) << "Defender was asked again";
    const stage::Audit second = Audit();
    EXPECT_EQ(second.stillPresent, audit.stillPresent) << Narrow(stage::Describe(second));
    EXPECT_TRUE(second.outsideChanged.empty() && second.plantedMissing.empty()) << Narrow(stage::Describe(second));
    ExpectPrefixAsFound();
}

}  // namespace
