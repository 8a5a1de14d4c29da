// The legacy personal firewalls with real folders, drivers, keys and values:
// the firewall programs are the recording stand-in under their names, the
// modules the recording COM server, so the order and the exact command lines
// of every start can be read back.
#include "ComponentStage.h"
#include "Firewall.h"
#include "PlatformInfo.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

constexpr wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr wchar_t kHostIntrusion[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent\\Components\\Firewall";

std::wstring WindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

// The real drivers folder: on 64-bit Windows a 32-bit program's "system32" is
// redirected, "Sysnative" is not.
std::wstring DriversFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return std::wstring(buffer) + (wow64 ? L"\\Sysnative\\drivers" : L"\\system32\\drivers");
}

bool KeyExists(const std::wstring& path)
{
    win::Key key;
    return win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS;
}

bool ValueExists(const wchar_t* path, const wchar_t* name)
{
    win::Key key;
    if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A real service, the service stand-in, started; stopped and deleted afterwards.
class RunningService {
public:
    explicit RunningService(const wchar_t* name) : name_(name)
    {
        const std::wstring binary = L"\"" + BuildPath(L"testbed\\service\\zlservice.exe") + L"\"";
        win::ServiceHandle made(CreateServiceW(manager_.get(), name, name, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                               binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_TRUE(made && StartServiceW(made.get(), 0, nullptr)) << GetLastError();
    }
    ~RunningService()
    {
        win::ServiceHandle service(OpenServiceW(manager_.get(), name_, SERVICE_STOP | DELETE));
        SERVICE_STATUS status{};
        if (service) ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        Sleep(500);
        if (service) DeleteService(service.get());
    }
    DWORD State() const
    {
        win::ServiceHandle service(OpenServiceW(manager_.get(), name_, SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
    }

private:
    const wchar_t* name_;
    win::ServiceHandle manager_{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
};

class Firewalls : public ::testing::Test, public ComponentStage {
protected:
    const std::wstring tarvo = WindowsFolder() + L"\\Tarvo\\PFW";
    const std::wstring managed = install + L"\\Firewall";
    const std::wstring standAlone = programFiles + L"\\Zelmar\\Managed Firewall";
    const std::wstring consumer = programFiles + L"\\Zelmar\\Personal Firewall Plus";
    const std::wstring api = programFiles + L"\\Zelmar\\Firewall API";
    const std::wstring installer = commonFiles + L"\\Zelmar\\zlInstall.exe";
    const std::wstring appData = ShellFolder(CSIDL_COMMON_APPDATA);
    const std::wstring system = ShellFolder(CSIDL_SYSTEM);
    const std::wstring comCalls = dir / L"com.txt";
    ScopedEnv comLog{L"ZL_COM_LOG", comCalls};
    std::unique_ptr<reloUni> uni = MakeUni();

    // Made only where it is missing.
    const bool madeDrivers = CreateDirectoryW(DriversFolder().c_str(), nullptr) != FALSE;

    Firewalls() { Clear(); }
    ~Firewalls() override
    {
        Clear();
        if (madeDrivers) RemoveDirectoryW(DriversFolder().c_str());
    }

    // A key made for the test, deleted with its tree afterwards.
    win::Key Plant(const std::wstring& path)
    {
        planted_.push_back(path);
        win::Key key;
        win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key);
        return key;
    }
    // A key tree the test leaves behind for the clean-up.
    void Own(const std::wstring& path) { planted_.push_back(path); }
    void PlantValue(const wchar_t* path, const wchar_t* name, const std::wstring& text)
    {
        win::Key key;
        win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key);
        win::WriteString(key.get(), name, text);
        values_.push_back({path, name});
    }
    // A firewall folder's programs; its shell-service module only when asked.
    void PlaceFirewall(const std::wstring& folder, bool shellModule)
    {
        for (const wchar_t* program :
             {L"zlPfwTray.exe", L"zlPfwAgent.exe", L"data\\drv\\zlPfwConfig.exe", L"zlPfwSvc.exe"})
            Place(folder, program);
        if (shellModule)
            CopyFileW(BuildPath(L"testbed\\comserver\\comserver.dll").c_str(), (folder + L"\\zlPfwShell.dll").c_str(),
                      FALSE);
    }
    void PlaceDriver(const wchar_t* name)
    {
        EXPECT_TRUE(Write(DriversFolder() + L"\\" + name + L".sys", "driver"));
        Plant(std::wstring(kServices) + name + L"\\Parameters");
        Own(std::wstring(kServices) + name);
    }
    // A file with its folders; false if it could not be written.
    static bool Write(const std::wstring& path, const std::string& bytes)
    {
        SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        return WriteFileBytes(path, bytes);
    }
    std::string Short(const std::wstring& path) const { return Narrow(ShortPath(path)); }
    Lines ComCalls() const { return SplitLines(ReadFileBytes(comCalls)); }

private:
    void Clear()
    {
        for (const std::wstring& path : planted_) win::DeleteTree(HKEY_LOCAL_MACHINE, path, win::RegView::Native);
        for (const auto& [path, name] : values_) {
            win::Key key;
            if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, win::RegView::Native, key) == ERROR_SUCCESS)
                RegDeleteValueW(key.get(), name);
        }
        planted_.clear();
        values_.clear();
        for (const std::wstring& folder :
             {tarvo, WindowsFolder() + L"\\Tarvo", standAlone, consumer, api, commonFiles + L"\\Zelmar",
              appData + L"\\Zelmar\\Intrulog", appData + L"\\Zelmar\\Home Firewall"})
            win::RemoveTree(folder);
        DeleteFileW((appData + L"\\Zelmar\\other-product.txt").c_str());
        RemoveDirectoryW((appData + L"\\Zelmar").c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar");
        for (const wchar_t* file : {L"zlPfwDrv.sys", L"zlPfwNdis.sys"})
            DeleteFileW((DriversFolder() + L"\\" + file).c_str());
        DeleteFileW((system + L"\\zlhfw.dat").c_str());
    }
    std::vector<std::wstring> planted_;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> values_;
};

TEST_F(Firewalls, TarvoFirewallShutsDownInOrderAndGoesWithItsDriversAndKeys)
{
    PlaceFirewall(tarvo, true);
    ASSERT_TRUE(Write(tarvo + L"\\data\\rules.dat", "rules"));
    PlaceDriver(L"zlPfwDrv");
    PlaceDriver(L"zlPfwNdis");
    const std::wstring agent = L"SOFTWARE\\Tarvo\\Agent";
    Plant(agent + L"\\TaskbarMenu\\Firewall\\Items");
    Plant(agent + L"\\Components\\Firewall\\Settings");
    Plant(agent + L"\\Components\\OtherProduct");
    Plant(std::wstring(kUninstall) + L"Tarvo Personal Firewall");
    Own(L"SOFTWARE\\Tarvo");
    PlantValue(kRun, L"zlPfwTray", L"tray");
    PlantValue(kRun, L"OtherProductTray", L"other");
    const std::string tray = Short(tarvo + L"\\zlPfwTray.exe"), agentProgram = Short(tarvo + L"\\zlPfwAgent.exe"),
                      config = Short(tarvo + L"\\data\\drv\\zlPfwConfig.exe");

    EXPECT_TRUE(RemoveTarvoFirewall(*uni));

    EXPECT_EQ(Recorded(), (Lines{"zlPfwTray.exe: short " + tray + "  -shutdown",
                                 "zlPfwAgent.exe: short " + agentProgram + " /INVOKE:Shutdown:NoPrompt",
                                 "zlPfwConfig.exe: short " + config + "  -d " + Narrow(tarvo)}));
    EXPECT_EQ(ComCalls(),
              Lines{"DllUnregisterServer 32 " + Narrow(tarvo + L"\\zlPfwShell.dll") + " com=1 errormode=0x8001"});
    EXPECT_FALSE(FolderExists(tarvo));
    for (const wchar_t* driver : {L"zlPfwDrv", L"zlPfwNdis"}) {
        EXPECT_FALSE(FileExists(DriversFolder() + L"\\" + driver + L".sys")) << Narrow(driver);
        EXPECT_FALSE(KeyExists(std::wstring(kServices) + driver)) << Narrow(driver);
    }
    EXPECT_FALSE(KeyExists(agent + L"\\TaskbarMenu\\Firewall"));
    EXPECT_FALSE(KeyExists(agent + L"\\Components\\Firewall"));
    EXPECT_FALSE(KeyExists(std::wstring(kUninstall) + L"Tarvo Personal Firewall"));
    EXPECT_FALSE(ValueExists(kRun, L"zlPfwTray"));
    EXPECT_TRUE(KeyExists(agent + L"\\Components\\OtherProduct"));
    EXPECT_TRUE(ValueExists(kRun, L"OtherProductTray"));
    EXPECT_NE(Logged().find("Uprooter.Exe, Trying to launch: " + tray + "  -shutdown"), std::string::npos) << Logged();
}

TEST_F(Firewalls, FolderWithoutItsShellModuleStartsNothingButItsDriversGo)
{
    PlaceFirewall(managed, false);
    PlaceDriver(L"zlPfwDrv");
    Plant(std::wstring(kServices) + L"zlPfwNdis");  // its file is gone already
    const std::wstring agent = L"SOFTWARE\\Zelmar\\ManagedServices\\Agent";
    Own(L"SOFTWARE\\Zelmar\\ManagedServices");
    Plant(agent + L"\\TaskbarMenu\\PersonalFirewall\\Items");
    Plant(agent + L"\\Components\\PersonalFirewall");
    Plant(agent + L"\\Components\\Firewall");  // the host-intrusion firewall's, removed later
    Plant(std::wstring(kUninstall) + L"Zelmar Managed Firewall\\Details");
    PlantValue(kRun, L"zlPfwTray", L"tray");
    PlaceFirewall(standAlone, true);  // not taken: the product's own folder exists

    EXPECT_EQ(FindFirewallFolder(FirewallVariant::Managed), managed);
    EXPECT_TRUE(RemoveManagedFirewall(*uni));

    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(ComCalls().empty());
    EXPECT_TRUE(FileExists(managed + L"\\zlPfwTray.exe"));
    EXPECT_TRUE(FileExists(managed + L"\\zlPfwSvc.exe"));
    EXPECT_TRUE(FileExists(standAlone + L"\\zlPfwShell.dll"));
    EXPECT_FALSE(FileExists(DriversFolder() + L"\\zlPfwDrv.sys"));
    EXPECT_FALSE(KeyExists(std::wstring(kServices) + L"zlPfwDrv"));
    EXPECT_TRUE(KeyExists(std::wstring(kServices) + L"zlPfwNdis"));
    EXPECT_FALSE(KeyExists(agent + L"\\TaskbarMenu\\PersonalFirewall"));
    EXPECT_FALSE(KeyExists(agent + L"\\Components\\PersonalFirewall"));
    EXPECT_FALSE(KeyExists(std::wstring(kUninstall) + L"Zelmar Managed Firewall"));
    EXPECT_FALSE(ValueExists(kRun, L"zlPfwTray"));
    EXPECT_TRUE(KeyExists(agent + L"\\Components\\Firewall"));

    // Without the product's folder the stand-alone one is shut down and removed.
    win::RemoveTree(install);
    EXPECT_EQ(FindFirewallFolder(FirewallVariant::Managed), standAlone);
    RemoveManagedFirewall(*uni);
    EXPECT_EQ(Recorded().size(), 3u);
    EXPECT_FALSE(FolderExists(standAlone));
}

TEST_F(Firewalls, ConsumerEditionApiPackagesAndHostIntrusionFirewallInOrder)
{
    const std::wstring tray = Place(consumer, L"zlPfpTray.exe");
    ASSERT_TRUE(Write(consumer + L"\\zlFwApi.inf", "[Version]"));
    SHCreateDirectoryExW(nullptr, managed.c_str(), nullptr);
    const std::wstring module = managed + L"\\zlFwCtl.dll";
    ASSERT_TRUE(CopyFileW(BuildPath(L"testbed\\comserver\\comserver.dll").c_str(), module.c_str(), FALSE));
    const std::wstring apiUninstaller = Place(api, L"zlFwApiUn.exe");
    win::Key apiKey = Plant(std::wstring(kUninstall) + L"Zelmar Firewall API");
    win::WriteString(apiKey.get(), L"UninstallString", L"\"" + apiUninstaller + L"\" /remove");
    Plant(std::wstring(kUninstall) + L"Zelmar Managed Firewall");
    Place(installer.substr(0, installer.rfind(L'\\')), L"zlInstall.exe");
    const std::wstring tool = Place(cache, L"zlmhidin.exe");
    Own(L"SOFTWARE\\Zelmar\\ManagedServices");
    Plant(kHostIntrusion);
    Plant(L"SOFTWARE\\Zelmar\\ZuzadaZozi");
    PlantValue(kRunOnce, L"InstIlApi", L"again");
    Plant(L"SOFTWARE\\Zelmar\\SharedModules\\Firewall");
    Plant(L"SOFTWARE\\Zelmar\\ZSC\\Rules");
    Plant(L"SOFTWARE\\Zelmar\\OtherProduct");
    ASSERT_TRUE(Write(appData + L"\\Zelmar\\Intrulog\\events.log", "log"));
    ASSERT_TRUE(Write(appData + L"\\Zelmar\\Home Firewall\\state.dat", "state"));
    ASSERT_TRUE(Write(appData + L"\\Zelmar\\other-product.txt", "other"));
    ASSERT_TRUE(Write(system + L"\\zlhfw.dat", "status"));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string shortTray = Short(tray), shortInstaller = Short(installer), shortTool = Short(tool);
    RunningService consumerService(L"ZlPfpService"), hostIntrusionService(L"ZlHipFirewall");

    EXPECT_TRUE(RemovePersonalFirewallPlus(*uni));

    const std::string intrusionArguments = "\"" + Narrow(commonFiles) + "\\Zelmar\\Intrulog\\zlIlApi.inf\" /Uninstall";
    EXPECT_EQ(Recorded(),
              (Lines{"zlPfpTray.exe: short " + shortTray + " -shutdown",
                     "zlFwApiUn.exe: long \"" + Narrow(apiUninstaller) + "\" /remove",
                     "zlInstall.exe: short " + shortInstaller + " \"" + Narrow(consumer) + "\\zlFwApi.inf\" /uninstall",
                     "zlmhidin.exe: short " + shortTool + " -u AGSFIREWALL -l \"" + Narrow(temp) +
                         "AGSFIREWALL_Uninstall.log\" -x grds.xml Firecore",
                     "zlInstall.exe: short " + shortInstaller + " " + intrusionArguments}));
    EXPECT_EQ(consumerService.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(hostIntrusionService.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(ComCalls(), Lines{"DllUnregisterServer 32 " + Narrow(module) + " com=1 errormode=0x8001"});
    const std::string log = Logged();
    EXPECT_NE(log.find("Running Firewall Un Installation Command\r\n"), std::string::npos) << log;
    EXPECT_NE(
        log.find("Checking if need to delete the InstIlApi runonce key\r\nDeleted the InstIlApi runonce key!\r\n"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("Successfully launched IL API uninstaller... strCmd = " + Narrow(installer) +
                       ", strParams = " + intrusionArguments + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(ValueExists(kRunOnce, L"InstIlApi"));
    EXPECT_FALSE(FolderExists(consumer));
    EXPECT_FALSE(KeyExists(std::wstring(kUninstall) + L"Zelmar Managed Firewall"));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar\\SharedModules"));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar\\ZSC"));
    EXPECT_FALSE(FolderExists(appData + L"\\Zelmar\\Intrulog"));
    EXPECT_FALSE(FolderExists(appData + L"\\Zelmar\\Home Firewall"));
    EXPECT_FALSE(FileExists(system + L"\\zlhfw.dat"));
    EXPECT_TRUE(FileExists(tool));  // the system core stays installed: its tool stays
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Zelmar\\OtherProduct"));
    EXPECT_TRUE(FileExists(appData + L"\\Zelmar\\other-product.txt"));
    EXPECT_TRUE(FileExists(module));  // the module list's files are the folder clean-up's
}

// The recorded common-files folder made one that expands beyond a path's
// length, so that neither the shell nor the registry's reading knows one; put
// back afterwards.
class UnknownCommonFiles {
public:
    UnknownCommonFiles()
    {
        win::OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_ALL_ACCESS,
                     win::RegView::Native, key_);
        had_ = win::ReadString(key_.get(), L"CommonFilesDir", value_, &type_) == ERROR_SUCCESS;
        win::WriteString(key_.get(), L"CommonFilesDir", L"%ZL_COMMON_TOO_LONG%", REG_EXPAND_SZ);
    }
    ~UnknownCommonFiles()
    {
        if (had_) win::WriteString(key_.get(), L"CommonFilesDir", value_, type_);
        else RegDeleteValueW(key_.get(), L"CommonFilesDir");
    }

private:
    ScopedEnv tooLong_{L"ZL_COMMON_TOO_LONG", L"C:\\" + std::wstring(300, L'c')};
    win::Key key_;
    std::wstring value_;
    DWORD type_ = REG_SZ;
    bool had_ = false;
};

// Without a common-files folder the common installer is not started, but the
// intrusion monitor's RunOnce value goes all the same.
TEST_F(Firewalls, TheRunOnceValueGoesWithoutACommonFilesFolder)
{
    PlantValue(kRunOnce, L"InstIlApi", L"again");
    {
        UnknownCommonFiles unknown;
        ASSERT_EQ(GetSpecialFolder(2), L"") << "the common-files folder is still known";
        EXPECT_TRUE(RemovePersonalFirewallPlus(*uni));
    }
    EXPECT_FALSE(ValueExists(kRunOnce, L"InstIlApi"));
    EXPECT_NE(
        Logged().find("Checking if need to delete the InstIlApi runonce key\r\nDeleted the InstIlApi runonce key!\r\n"),
        std::string::npos)
        << Logged();
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(Firewalls, HostIntrusionFirewallNotInstalledThenRunWithoutATemporaryFolder)
{
    const std::wstring tool = Place(cache, L"zlmhidin.exe");
    const std::string shortTool = Short(tool);
    Plant(L"SOFTWARE\\Zelmar\\ZuzadaZozi");

    EXPECT_TRUE(RemovePersonalFirewallPlus(*uni));
    EXPECT_NE(Logged().find("Firewall is not Installed... Hence ignoring it\r\n"), std::string::npos) << Logged();
    EXPECT_EQ(Logged().find("Running Firewall"), std::string::npos);
    EXPECT_TRUE(Recorded().empty());
    EXPECT_NE(Logged().find("Failed to launch IL API uninstaller... strCmd = " + Narrow(installer)), std::string::npos);

    Own(L"SOFTWARE\\Zelmar\\ManagedServices");
    Plant(kHostIntrusion);
    {
        // A temporary folder too long for the query's buffer counts as unknown.
        const std::wstring tooLong = L"C:\\" + std::wstring(300, L't');
        ScopedEnv tmp{L"TMP", tooLong}, tempFolder{L"TEMP", tooLong};
        RemovePersonalFirewallPlus(*uni);
    }
    EXPECT_EQ(Recorded(), Lines{"zlmhidin.exe: short " + shortTool + " -u AGSFIREWALL -x grds.xml Firecore"});
}

TEST_F(Firewalls, WindowsFirewallRestoredThroughTheAgent)
{
    const std::wstring agent = Stage(L"Agent\\tvAgtSvc.exe");
    RestoreWindowsFirewall(*uni);
    EXPECT_EQ(Recorded(), Lines{"tvAgtSvc.exe: short " + Short(agent) +
                                " /RunDll=..\\Firewall\\zlFwCtl.dll,SetWindowsFirewallState 1"});
}

TEST_F(Firewalls, LegacyKeysGoAndTheirParentsOnlyWhenEmpty)
{
    const std::wstring top = L"SOFTWARE\\Zelmar Home";
    Own(top);
    const std::vector<std::wstring> trees = {L"SYSTEM\\CurrentControlSet\\Services\\VxD\\ZLHFW",
                                             L"SYSTEM\\CurrentControlSet\\Services\\VxD\\ZLHFWNDIS",
                                             top + L"\\Agent\\Apps\\Firewall", top + L"\\Firewall"};
    for (const std::wstring& tree : trees) Plant(tree + L"\\Sub");
    Plant(L"SYSTEM\\CurrentControlSet\\Services\\VxD\\OtherVxD");
    win::Key apps = Plant(top + L"\\Agent\\Apps\\OtherApp");

    RemoveLegacyFirewallKeys();
    for (const std::wstring& tree : trees) EXPECT_FALSE(KeyExists(tree)) << Narrow(tree);
    EXPECT_TRUE(KeyExists(top + L"\\Agent\\Apps\\OtherApp"));
    EXPECT_TRUE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\VxD\\OtherVxD"));

    // A value keeps a key as well; without it the empty keys go innermost first.
    win::DeleteTree(HKEY_LOCAL_MACHINE, top + L"\\Agent\\Apps\\OtherApp", win::RegView::Native);
    win::Key agent = Plant(top + L"\\Agent");
    win::WriteString(agent.get(), L"Owner", L"other");
    RemoveLegacyFirewallKeys();
    EXPECT_FALSE(KeyExists(top + L"\\Agent\\Apps"));
    EXPECT_TRUE(KeyExists(top + L"\\Agent"));
    RegDeleteValueW(agent.get(), L"Owner");
    agent.reset();
    RemoveLegacyFirewallKeys();
    EXPECT_FALSE(KeyExists(top));
}

}  // namespace
