// The e-mail and script scanners removed in both key forms, the COM libraries
// and local servers of the string table unregistered, the intrusion-prevention
// files deleted: real keys, real files, the real regsvr32 and recording stand-ins.
#include "PendingDeletions.h"
#include "ProcessFlags.h"
#include "PlantedTools.h"
#include "ScannerStage.h"
#include "Scanners.h"
#include "Wow64.h"

#include "Paths.h"

#include <gtest/gtest.h>

using namespace scanner_testing;

namespace {

constexpr wchar_t kSettings[] = L"SOFTWARE\\Zelmar\\ManagedServices\\Quellor";
constexpr wchar_t kCoreScanner[] = L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE\\Script Scanner";
constexpr wchar_t kExtensions[] = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr wchar_t kOld[] = L"SOFTWARE\\Ostrand Labs\\KRX\\Shared Components\\";
constexpr wchar_t kNew[] = L"SOFTWARE\\Zelmar\\QLCore\\";

class Scanners : public ::testing::Test, public ScannerStage {
protected:
    std::unique_ptr<reloUni> uni = MakeUni();
    const std::wstring engineFolder = install + (wow64 ? L"\\Qengine64" : L"\\Qengine");

    void SetUp() override { uni->FindComponents(); }

    // True if the lines stand in the run log in this order.
    bool LoggedInOrder(const std::vector<std::string>& lines) const
    {
        const std::string log = Logged();
        size_t at = 0;
        for (const std::string& line : lines) {
            at = log.find(line + "\r\n", at);
            if (at == std::string::npos) return false;
        }
        return true;
    }
    static DWORD OpState(const std::wstring& path)
    {
        win::Key key;
        DWORD value = 0;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Native, key) == ERROR_SUCCESS)
            win::ReadDword(key.get(), L"OpState", value);
        return value;
    }
};

// The newer key form, opened with a registry transaction in use: Wine lacks
// the transacted open, so the plain open must stand in for it.
TEST_F(Scanners, NewFormScannersAreUnhookedUnregisteredAndDeleted)
{
    StageFile(L"Qengine\\qlScanEng.dll");
    StageFile(L"Qengine64\\qlScanEng.dll");
    const std::wstring outlook = StageFile(L"Qengine\\qlOutlook.dll");
    const std::wstring script32 = StageModule(L"Qengine\\zlsproxy.dll", 32);
    const std::wstring script64 = StageModule(L"Qengine64\\zlsproxy64.dll", wow64 ? 64 : 32);
    SetText(kSettings, L"szOutlookDLL", L"qlOutlook.dll");
    SetText(kSettings, L"szScriptScanDLL", L"zlsproxy.dll");
    SetText(kSettings, L"szScriptScan64", L"zlsproxy64.dll");
    SetText(kExtensions, L"Exchange Scan", L"4.0;qlOutlook.dll;7");
    for (const wchar_t* key : {L"Email Scanner\\Outlook", L"EMail Scanner\\Outlook\\OnDelivery",
                               L"EMail Scanner\\Outlook\\OnDeliveryDetectionOptions",
                               L"EMail Scanner\\Outlook\\OnDemand", L"Script Scanner\\Options", L"Other Product"})
        MakeKey(kNew + std::wstring(key));
    win::Handle transaction(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uni->UseRegistryTransaction(transaction.get());

    uni->RemoveOldScanners();

    EXPECT_FALSE(FileExists(outlook));
    EXPECT_FALSE(FileExists(script32));
    EXPECT_EQ(FileExists(script64), !wow64) << "the 64-bit library is only for 64-bit Windows";
    EXPECT_EQ(Unregistered(), wow64 ? (Lines{Call(32, script32), Call(64, script64)}) : Lines{Call(32, script32)});
    EXPECT_FALSE(KeyExists(kNew + std::wstring(L"EMail Scanner")));
    EXPECT_FALSE(KeyExists(kNew + std::wstring(L"Script Scanner")));
    EXPECT_TRUE(KeyExists(kNew + std::wstring(L"Other Product")));
    EXPECT_FALSE(ValueExists(kSettings, L"szOutlookDLL"));
    EXPECT_FALSE(ValueExists(kSettings, L"szScriptScanDLL"));
    EXPECT_FALSE(ValueExists(kExtensions, L"Exchange Scan"));
    win::Key extensions;
    ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, kExtensions, KEY_READ, win::RegView::Native, extensions), ERROR_SUCCESS);
    wchar_t text[64] = {};
    DWORD type = 0, bytes = sizeof(text);
    RegQueryValueExW(extensions.get(), L"Outlook Setup Extension", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, 102u);
    EXPECT_STREQ(text, L"4.0;Outxxx.dll;7;000000000000000;0000000000;OutXXX");

    const std::string qengine = Narrow(install) + "\\Qengine\\";
    EXPECT_TRUE(LoggedInOrder({
        "Uninstall Pre-QLCORE 14.2 Email and Script scanners",
        "uprooter.Exe, Inside uninstEmailScanner()",
        "uprooter.Exe, Email Scanner Library File " + qengine + "qlOutlook.dll",
        "uprooter.Exe, Deleted Email Scanner file " + qengine + "qlOutlook.dll",
        "uprooter.Exe, Trying to open HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Access "
        "Scanner\\Sentrel",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDelivery",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDeliveryGeneralOptions",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\EMail Scanner\\Outlook\\OnDemandDetectionOptions",
        "uprooter.Exe, Script Scanner file is " + qengine + "zlsproxy.dll",
        "uprooter.Exe, Restoring VBScript and JScript processor by unregistering: " + qengine + "zlsproxy.dll",
        "uprooter.Exe, Deleted Script Scanner file " + qengine + "zlsproxy.dll",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore\\Script Scanner",
    })) << Logged();
}

// Without the engine library of cores before 14.2 the scanners are only
// switched off; with it the former company's keys go.
TEST_F(Scanners, OldFormScannersAreSwitchedOffAndRemovedOnlyWithTheOldEngine)
{
    const std::wstring emailScan = kOld + std::wstring(L"On Demand Scanner\\Exchange Scan");
    const std::wstring scriptScan = kOld + std::wstring(L"On Access Scanner\\ScriptScan");
    const std::wstring onAccessEmail = kOld + std::wstring(L"On Access Scanner\\Sentrel\\E-Mail Scan\\Options");
    for (const std::wstring& key : {emailScan, scriptScan, onAccessEmail}) MakeKey(key);
    MakeKey(kNew + std::wstring(L"Script Scanner"));

    uni->RemoveOldScanners();
    EXPECT_EQ(OpState(emailScan), 2u);
    EXPECT_EQ(OpState(scriptScan), 2u);
    EXPECT_EQ(OpState(kNew + std::wstring(L"Script Scanner")), 0u) << "the new form is only a fallback";
    EXPECT_TRUE(KeyExists(onAccessEmail));
    EXPECT_EQ(Logged().find("Uninstall Pre-QLCORE"), std::string::npos);

    StageFile((wow64 ? L"Qengine64\\" : L"Qengine\\") + std::wstring(L"qlScanEng.dll"));
    uni->RemoveOldScanners();
    EXPECT_FALSE(KeyExists(emailScan));
    EXPECT_FALSE(KeyExists(scriptScan));
    EXPECT_FALSE(KeyExists(kOld + std::wstring(L"On Access Scanner\\Sentrel\\E-Mail Scan")));
    EXPECT_TRUE(KeyExists(kOld + std::wstring(L"On Access Scanner\\Sentrel")));
    EXPECT_TRUE(KeyExists(kNew + std::wstring(L"Script Scanner"))) << "the old form was there, so the new one stays";
    EXPECT_TRUE(LoggedInOrder({
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Access "
        "Scanner\\Sentrel\\E-Mail Scan",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Demand "
        "Scanner\\Exchange Scan",
        "uprooter.Exe, Deleting HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Access "
        "Scanner\\ScriptScan",
    })) << Logged();
}

TEST_F(Scanners, WithNeitherKeyFormTheEmailScannerKeysAreReportedMissing)
{
    uni->uninstEmailScanner();
    EXPECT_TRUE(LoggedInOrder({
        "uprooter.Exe, could not open HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Access "
        "Scanner\\Sentrel nor HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore ",
        "uprooter.Exe, could not open HKEY_LOCAL_MACHINE\\Software\\Ostrand Labs\\KRX\\Shared Components\\On Demand "
        "Scanner nor HKEY_LOCAL_MACHINE\\Software\\Zelmar\\QLCore ",
    })) << Logged();
}

// A file name from the registry that leads out of the suite's folder is
// neither unregistered nor deleted.
TEST_F(Scanners, RegistryFileNamesThatAreNotBareNamesAreRefused)
{
    const std::wstring victim = dir / L"victim.dll";
    CopyFileW(ComServer(32).c_str(), victim.c_str(), FALSE);
    const std::wstring beside = StageFile(L"beside.dll");
    SetText(kSettings, L"szOutlookDLL", L"..\\beside.dll");
    SetText(kSettings, L"szScriptScanDLL", victim);
    SetText(kSettings, L"szScriptScan64", L"..\\..\\beside.dll");
    SetText(kCoreScanner, L"szBinary32", L"..\\victim.dll");
    SetText(kCoreScanner, L"szInstallDir32", dir.path() + L"\\sub");
    SetText(kCoreScanner, L"szBinary64", L"C:victim.dll");
    SetText(kCoreScanner, L"szInstallDir64", dir.path());

    uni->uninstEmailScanner();
    RemoveScriptScannerFiles(*uni);
    uninstScriptScanner2(*uni);

    EXPECT_TRUE(FileExists(victim));
    EXPECT_TRUE(FileExists(beside));
    EXPECT_EQ(Unregistered(), Lines{});
    const std::string log = Logged();
    EXPECT_NE(log.find("uprooter.Exe, refusing szOutlookDLL \"..\\beside.dll\": not a bare file name\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("uprooter.Exe, refusing szScriptScanDLL \"" + Narrow(victim) + "\": not a bare file name\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("uprooter.Exe, refusing szBinary32 \"..\\victim.dll\": not a bare file name\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("launching"), std::string::npos) << log;
    EXPECT_FALSE(ValueExists(kSettings, L"szOutlookDLL")) << "the suite's own value goes all the same";
}

TEST(BareFileNames, OnlyPlainNamesPass)
{
    for (const wchar_t* name : {L"zlsproxy.dll", L"ql Outlook.dll", L"a..b.dll", L"CONSOLE.dll", L"COM10.dll"})
        EXPECT_TRUE(win::IsBareFileName(name)) << Narrow(name);
    for (const wchar_t* name : {L"", L".", L"..", L"..\\x.dll", L"a/b.dll", L"C:x.dll", L"C:\\x.dll", L"\\\\?\\C:\\x",
                                L"NUL", L"nul.dll", L"COM1.txt", L"lpt3", L"CON .dll", L"x*.dll", L"x?.dll", L"x.dll.",
                                L"x.dll "})
        EXPECT_FALSE(win::IsBareFileName(name)) << Narrow(name);
}

// 64-bit Windows: the 64-bit library first, then the 32-bit one, each by the
// real regsvr32; 32-bit Windows: the 32-bit one only.
TEST_F(Scanners, CoreScriptScannersAreUnregisteredWithRegsvr32InOrder)
{
    const std::wstring module32 = StageModule(L"Core 32\\zlss32.dll", 32);
    const std::wstring module64 = StageModule(L"Core 64\\zlss64.dll", wow64 ? 64 : 32);
    SetText(kCoreScanner, L"szBinary32", L"zlss32.dll");
    SetText(kCoreScanner, L"szInstallDir32", install + L"\\Core 32");
    SetText(kCoreScanner, L"szBinary64", L"zlss64.dll");
    SetText(kCoreScanner, L"szInstallDir64", install + L"\\Core 64\\");

    {
        // regsvr32 is the system folder's, never a copy planted where a search by bare name looks first.
        PlantedTools planted({L"regsvr32.exe"});
        ASSERT_EQ(planted.Planted(), 2u);
        uninstScriptScanner2(*uni);
        EXPECT_EQ(planted.Started(), "");
    }

    const Lines calls = SplitLines(ReadFileBytes(comRecord));
    ASSERT_EQ(calls.size(), wow64 ? 2u : 1u) << Logged();
    EXPECT_NE(Lower(calls.back()).find(Call(32, module32)), std::string::npos) << calls.back();
    if (wow64) {
        EXPECT_NE(Lower(calls.front()).find(Call(64, module64)), std::string::npos) << calls.front();
    }
    std::vector<std::string> expected = {"Uninstalling script scannners by unregistering.",
                                         "Opened key " + Narrow(kCoreScanner)};
    if (wow64) expected.push_back("uninstScriptScanner2 - launching regsvr32.exe /u /s \"" + Narrow(module64) + "\"");
    expected.push_back("uninstScriptScanner2 - launching regsvr32.exe /u /s \"" + Narrow(module32) + "\"");
    EXPECT_TRUE(LoggedInOrder(expected)) << Logged();
}

// Among the component uninstallers: after the driver installer, before the core.
TEST_F(Scanners, TheComponentUninstallersUnregisterTheScriptScannerAfterTheDriverInstaller)
{
    const std::wstring installer = Stage((wow64 ? L"Qengine64" : L"Qengine") + std::wstring(L"\\zlmhidin.exe"));
    const std::wstring module = StageModule(L"Core 32\\zlss32.dll", 32);
    SetText(kCoreScanner, L"szBinary32", L"zlss32.dll");
    SetText(kCoreScanner, L"szInstallDir32", install + L"\\Core 32");

    uni->RunComponentUninstallers();

    EXPECT_EQ(Unregistered(), Lines{Call(32, module)});
    EXPECT_TRUE(LoggedInOrder({"Launching " + Narrow(installer) + " -u zlmhid.sys zlmflt.sys zlmnet.sys",
                               "Uninstalling script scannners by unregistering.",
                               "uninstScriptScanner2 - launching regsvr32.exe /u /s \"" + Narrow(module) + "\""}))
        << Logged();
}

// The core folder becomes part of one quoted regsvr32 argument: a quote in it
// would add arguments or libraries of its own, and a folder outside the
// suite's names another product's library. Both are refused, nothing starts.
TEST_F(Scanners, CoreFoldersWithAQuoteOrOutsideTheSuiteAreRefused)
{
    const std::wstring module32 = StageModule(L"Core 32\\zlss32.dll", 32);
    const std::wstring victim = dir / L"victim.dll";
    ASSERT_TRUE(CopyFileW(ComServer(32).c_str(), victim.c_str(), FALSE));
    const std::wstring injected = install + L"\\Core 32\" \"" + victim + L"\" \"" + install + L"\\Core 32";
    SetText(kCoreScanner, L"szBinary32", L"zlss32.dll");
    SetText(kCoreScanner, L"szInstallDir32", injected);
    SetText(kCoreScanner, L"szBinary64", L"victim.dll");
    SetText(kCoreScanner, L"szInstallDir64", dir.path());

    uninstScriptScanner2(*uni);

    EXPECT_EQ(Unregistered(), Lines{});
    const std::string log = Logged();
    EXPECT_NE(log.find("uprooter.Exe, refusing szInstallDir32 \"" + Narrow(injected) + "\\\": not a full local path\r\n"),
              std::string::npos)
        << log;
    if (wow64) {
        EXPECT_NE(log.find("uprooter.Exe, refusing szInstallDir64 \"" + Narrow(dir.path()) +
                           "\\\": outside the folders it may lie in\r\n"),
                  std::string::npos)
            << log;
    }
    EXPECT_EQ(log.find("launching"), std::string::npos) << log;

    // The suite's own library in the suite's folder still goes.
    SetText(kCoreScanner, L"szInstallDir32", install + L"\\Core 32");
    uninstScriptScanner2(*uni);
    EXPECT_EQ(Unregistered(), Lines{Call(32, module32)});
}

TEST_F(Scanners, WithoutTheCoreKeyNothingIsLaunched)
{
    uninstScriptScanner2(*uni);
    EXPECT_NE(Logged().find("Could not open registry key! " + Narrow(kCoreScanner) + "\r\n"), std::string::npos);
    EXPECT_EQ(Logged().find("launching"), std::string::npos);
}

// The string table's lists (UprooterStrings.rc): COM libraries in-process,
// local servers told " /UnregServer", each list up to its entry "0".
TEST_F(Scanners, TheStringTableListsAreUnregisteredFromTheirFolders)
{
    const Lines expected = {Call(32, StageModule(L"Agent\\tvAgtCore.dll", 32)),
                            Call(32, StageModule(L"Agent\\tvUpload.dll", 32)),
                            Call(32, StageModule(L"Agent\\zlOemBrand.dll", 32)),
                            Call(32, StageModule(L"Qengine\\qlOdScan.dll", 32))};
    StageModule(L"Qengine\\tvAgtCore.dll", 32);
    Stage(L"Agent\\tvAgtHost.exe");
    Stage(L"Qengine\\tvAgtHost.exe");

    UnregisterComponentFiles(*uni);

    Lines unregistered = Unregistered();
    EXPECT_EQ(unregistered, expected);
    const Lines recorded = Recorded();
    ASSERT_EQ(recorded.size(), 1u) << Logged();
    EXPECT_EQ(recorded[0].rfind("tvAgtHost.exe: ", 0), 0u);
    EXPECT_EQ(recorded[0].substr(recorded[0].size() - 14), "  /UnregServer");
    const std::string agent = Narrow(install) + "\\Agent";
    EXPECT_TRUE(LoggedInOrder({"Checking for: " + agent + "\\tvPlugin*.dll", "Checking for: " + agent + "\\tvAddin*.dll",
                               "base bath is: " + agent, "Next file is: tvAgtCore.dll",
                               "Unregistering: " + agent + "\\tvAgtCore.dll", "Next file is: tvUpload.dll",
                               "Next file is: 0", "base bath is: " + Narrow(install) + "\\Qengine",
                               "base bath is: " + agent, "Next file is: zlOemBrand.dll", "Next file is: 0",
                               "Next file is: tvAgtHost.exe", "Next file is: tvUpdater.exe", "Next file is: 0"}))
        << Logged();
}

// The system folder as Uprooter sees it; the drivers in the real one.
TEST_F(Scanners, IntrusionPreventionFilesGoAndAHeldOneIsLeftForTheRestart)
{
    PendingList pending;
    const std::wstring library = GetSpecialFolder(4) + L"\\BarAPI.dll";
    WriteFileBytes(library, "the older suite's");
    std::wstring driver, held;
    win::Handle holder;
    {
        win::FsRedirectionOff redirection;
        driver = GetSpecialFolder(5) + L"\\zlIpsDrv.sys";
        held = GetSpecialFolder(5) + L"\\zlIpsFlt.sys";
        WriteFileBytes(driver, "the older suite's");
        WriteFileBytes(held, "the older suite's");
        holder.reset(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    ASSERT_TRUE(holder);
    g_RebootNeeded = 0;

    RemoveIntrusionPreventionFiles(*uni);

    holder.reset();
    EXPECT_FALSE(FileExists(library));
    EXPECT_EQ(g_RebootNeeded, 1);
    {
        win::FsRedirectionOff redirection;
        EXPECT_FALSE(FileExists(driver));
        EXPECT_TRUE(FileExists(held));
        DeleteFileW(held.c_str());
    }
    const auto deletions = PendingList::Deletions();
    EXPECT_NE(std::find_if(deletions.begin(), deletions.end(),
                           [&](const std::wstring& item) { return lstrcmpiW(item.c_str(), held.c_str()) == 0; }),
              deletions.end());
    EXPECT_TRUE(LoggedInOrder({"Deleting " + Narrow(library), "Deleting " + Narrow(driver), "Deleting " + Narrow(held),
                               "Unable to rename/delete file " + Narrow(held) + ", added to pending list"}))
        << Logged();
}

}  // namespace
