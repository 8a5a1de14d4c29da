// The suite's Firefox components and its 64-bit registry links: a real
// Firefox registration, real files (one held open), and real registry links
// made as Windows makes them (REG_OPTION_CREATE_LINK and "SymbolicLinkValue").
#include "ComponentStage.h"
#include "PlatformInfo.h"
#include "RegistryLinks64.h"

#include <gtest/gtest.h>

using namespace component_testing;

namespace {

constexpr wchar_t kMozilla[] = L"SOFTWARE\\Mozilla";
constexpr wchar_t kProduct[] = L"SOFTWARE\\Mozilla\\Mozilla Firefox";
constexpr wchar_t kVersioned[] = L"SOFTWARE\\Mozilla\\Mozilla Firefox 3.6 (en-US)";
const std::vector<std::wstring> kFiles = {L"nsZlWebSafe.js", L"zlwebsafe.xpt", L"zlwebsafe.dll", L"nsZlRating.js",
                                          L"zlrating.xpt"};

void MakeKey(const std::wstring& path, const wchar_t* value, const std::wstring& data,
             win::RegView view = win::RegView::Native)
{
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, view, key), 0) << Narrow(path);
    if (value) win::WriteString(key.get(), value, data);
}

bool KeyExists(const std::wstring& path, win::RegView view, DWORD options = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), options, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Firefox registered with its components folder in the scratch area.
class Firefox : public ::testing::Test, public ComponentStage {
protected:
    std::unique_ptr<reloUni> uni = MakeUni();
    const std::wstring programFolder = dir / L"Mozilla Firefox";
    const std::wstring components = programFolder + L"\\components";
    const std::wstring marker = programFolder + L"\\.autoreg";

    Firefox()
    {
        CreateDirectoryW(programFolder.c_str(), nullptr);
        CreateDirectoryW(components.c_str(), nullptr);
        for (const std::wstring& name : kFiles) WriteFileBytes(components + L"\\" + name, "x");
        WriteFileBytes(components + L"\\browser.xpt", "firefox's own");
    }
    ~Firefox() override
    {
        for (const wchar_t* key : {kVersioned, kProduct}) win::DeleteTree(HKEY_LOCAL_MACHINE, key, win::RegView::Native);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMozilla);
    }
    void Register(const wchar_t* version) const
    {
        MakeKey(kProduct, L"CurrentVersion", version);
        MakeKey(std::wstring(kVersioned) + L"\\extensions", L"Components", components);
    }
    bool Has(const std::string& text) const { return Logged().find(text) != std::string::npos; }
};

TEST_F(Firefox, ComponentsGoTheHeldOneAtRestartAndTheMarkerIsWritten)
{
    Register(L"3.6 (en-US)");
    WriteFileBytes(marker, "autoreg and an older tail");
    const std::wstring held = components + L"\\zlwebsafe.dll";
    win::Handle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    uni->RemoveFirefoxComponents();
    holder.reset();

    for (const std::wstring& name : kFiles) {
        const std::string path = Narrow(components + L"\\" + name);
        EXPECT_TRUE(Has("Attempting to delete " + path + "\r\n\r\n")) << Logged();
        if (name == L"zlwebsafe.dll") continue;
        EXPECT_FALSE(FileExists(components + L"\\" + name)) << path;
        EXPECT_TRUE(Has("Successfully deleted " + path + "\r\n\r\n"));
    }
    EXPECT_TRUE(Has("Firefox version: 3.6\r\n\r\n"));
    EXPECT_TRUE(Has("Error 0x00000020 Deleting " + Narrow(held) + "\r\n\r\n")) << Logged();
    std::wstring pending;
    win::Key session;
    win::OpenKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_READ,
                 win::RegView::Native, session);
    DWORD bytes = 0;
    RegQueryValueExW(session.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes);
    pending.resize(bytes / sizeof(wchar_t));
    RegQueryValueExW(session.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(pending.data()), &bytes);
    EXPECT_NE(pending.find(L"zlwebsafe.dll"), std::wstring::npos);
    EXPECT_TRUE(FileExists(components + L"\\browser.xpt"));
    EXPECT_EQ(ReadFileBytes(marker), std::string("autoreg\0", 8));
}

TEST_F(Firefox, BeforeOnePointFiveOnlyTheVersionIsLogged)
{
    Register(L"1.4.1");
    uni->RemoveFirefoxComponents();
    EXPECT_TRUE(Has("Firefox version: 1.4\r\n")) << Logged();
    EXPECT_FALSE(Has("Attempting"));
    for (const std::wstring& name : kFiles) EXPECT_TRUE(FileExists(components + L"\\" + name));
    EXPECT_FALSE(FileExists(marker));
}

TEST_F(Firefox, WithoutFirefoxNothingIsLogged)
{
    MakeKey(kProduct, L"CurrentVersion", L"3.6 (en-US)");  // no product key with its extensions
    uni->RemoveFirefoxComponents();
    EXPECT_FALSE(Has("Firefox"));
    EXPECT_FALSE(FileExists(marker));
}

TEST_F(Firefox, AComponentsFolderInTheWindowsFolderIsRefused)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring system = std::wstring(windows) + L"\\system32";
    const std::wstring systemMarker = std::wstring(windows) + L"\\.autoreg";
    MakeKey(kProduct, L"CurrentVersion", L"3.6");
    MakeKey(std::wstring(kVersioned) + L"\\extensions", L"Components", system);
    uni->RemoveFirefoxComponents();
    const bool written = FileExists(systemMarker);
    if (written) DeleteFileW(systemMarker.c_str());
    EXPECT_FALSE(written);
    EXPECT_TRUE(Has("reloUni::RemoveFirefoxComponents - refusing components folder " + Narrow(system) + "\r\n"))
        << Logged();
    EXPECT_FALSE(Has("Attempting"));
}

// The component uninstallers take the Firefox components after the core's uninstaller.
TEST_F(Firefox, TheComponentUninstallersTakeThem)
{
    Register(L"1.5");
    Place(cache, L"zlmhidin.exe");
    uni->FindComponents();
    uni->RunComponentUninstallers();
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_TRUE(Has("Firefox version: 1.5\r\n"));
    for (const std::wstring& name : kFiles) EXPECT_FALSE(FileExists(components + L"\\" + name));
    EXPECT_TRUE(FileExists(marker));
}

// --- 64-bit registry links -----------------------------------------------------

constexpr wchar_t kTargets[] = L"\\Registry\\Machine\\Software\\Wow6432Node\\zelmar\\";
constexpr const wchar_t* kLinked[] = {L"managedservices", L"qlcore", L"ZuzadaZozi"};

class RegistryLinks : public ::testing::Test, public ComponentStage {
protected:
    std::unique_ptr<reloUni> uni = MakeUni();

    void SetUp() override
    {
        if (!IsWow64()) GTEST_SKIP() << "no 64-bit registry view on 32-bit Windows";
        Clean();
    }
    void TearDown() override
    {
        if (IsWow64()) Clean();
    }
    static void Clean()
    {
        for (win::RegView view : {win::RegView::Bit64, win::RegView::Bit32})
            win::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zelmar", view);
    }
    // The 32-bit keys with a value each (the core key with a subkey too), and
    // links to them in the 64-bit view.
    static void Link()
    {
        for (const wchar_t* name : kLinked) MakeKey(std::wstring(L"SOFTWARE\\Zelmar\\") + name, L"Owner", L"suite",
                                                   win::RegView::Bit32);
        MakeKey(L"SOFTWARE\\Zelmar\\ZuzadaZozi\\QLCORE", L"Owner", L"suite", win::RegView::Bit32);
        for (const wchar_t* name : kLinked) {
            HKEY link = nullptr;
            const std::wstring path = std::wstring(L"SOFTWARE\\Zelmar\\") + name;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                      REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                      nullptr, &link, nullptr),
                      0);
            const std::wstring target = std::wstring(kTargets) + name;
            RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t)));
            RegCloseKey(link);
        }
    }
    bool Has(const std::string& line) const { return Logged().find(line + "\r\n") != std::string::npos; }
};

TEST_F(RegistryLinks, LinksGoTheirTargetsStayAndAForeignKeyKeepsTheSuiteKey)
{
    Link();
    MakeKey(L"SOFTWARE\\Zelmar\\OtherProduct", L"Owner", L"other", win::RegView::Bit64);
    RemoveRegistryLinks64(*uni);

    for (const wchar_t* name : kLinked) {
        const std::wstring path = std::wstring(L"SOFTWARE\\Zelmar\\") + name;
        EXPECT_FALSE(KeyExists(path, win::RegView::Bit64, REG_OPTION_OPEN_LINK)) << Narrow(path);
        win::Key target;
        ASSERT_EQ(win::OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, win::RegView::Bit32, target), 0) << Narrow(path);
        std::wstring owner;
        EXPECT_EQ(win::ReadString(target.get(), L"Owner", owner), 0);
        EXPECT_EQ(owner, L"suite");
    }
    EXPECT_TRUE(KeyExists(L"SOFTWARE\\Zelmar\\OtherProduct", win::RegView::Bit64));
    EXPECT_TRUE(Has("Successfully removed Symbolic link under ManagedServices key")) << Logged();
    EXPECT_TRUE(Has("Successfully removed Symbolic link under QLCORE key"));
    EXPECT_TRUE(Has("Successfully removed Symbolic link under ZuzadaZozi key"));
    // The core key's 32-bit target holds a subkey: it cannot go as a link would.
    EXPECT_TRUE(Has("Failed to Delete Symbolic Link under ZuzadaZozi key. Error: 0\r\n"));
    EXPECT_TRUE(Has("Failed to Delete SOFTWARE\\Zelmar under 64-bit hive. Error: 0"));
}

TEST_F(RegistryLinks, WithoutLinksEachOpenFailsAndNothingIsLeftBehind)
{
    MakeKey(L"SOFTWARE\\Zelmar", nullptr, L"", win::RegView::Bit64);
    RemoveRegistryLinks64(*uni);
    EXPECT_TRUE(Has("Failed to Open 64-bit ManagedServices reg key. Error: 2")) << Logged();
    EXPECT_TRUE(Has("Failed to Open 64-bit QLCORE reg key. Error: 2"));
    EXPECT_TRUE(Has("Failed to Open 64-bit ZuzadaZozi reg key. Error: 2"));
    // The core key's 32-bit counterpart, made for the step, went again.
    EXPECT_TRUE(Has("Successfully removed Symbolic link under ZuzadaZozi key\r\n"));
    EXPECT_FALSE(Has("Failed to Delete SOFTWARE"));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar", win::RegView::Bit64));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Zelmar", win::RegView::Bit32));
}

TEST(RegistryLinksOn32Bit, NothingIsMadeWithoutA64BitView)
{
    if (IsWow64()) GTEST_SKIP() << "covered by the 64-bit view's tests";
    ComponentStage stage;
    auto uni = stage.MakeUni();
    RemoveRegistryLinks64(*uni);
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Wow6432Node", win::RegView::Native));
    EXPECT_EQ(stage.Logged().find("ZuzadaZozi"), std::string::npos);
}

}  // namespace
