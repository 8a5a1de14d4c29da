// The script engines' registrations repaired on the real keys of the prefix
// (HKEY_CLASSES_ROOT, both views on 64-bit Windows), with the keys' values and
// security put back after each test.
#include <gtest/gtest.h>

#include "ProgramVersion.h"
#include "Scratch.h"
#include "ScriptEngines.h"
#include "Wow64.h"

#include <sddl.h>

#include <algorithm>

using namespace testing_support;

namespace {

const wchar_t* const kEngineKeys[] = {L"CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32",
                                      L"CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32"};
const wchar_t* const kJScriptKey = kEngineKeys[0];
const wchar_t* const kVBScriptKey = kEngineKeys[1];
const std::wstring kHelperObjects = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
const std::wstring kHelperClass = std::wstring(L"CLSID\\") + kScriptScanHelperObject;

bool Is64()
{
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    return wow != FALSE;
}

std::vector<win::RegView> Views()
{
    if (Is64()) return {win::RegView::Native, win::RegView::Bit64};
    return {win::RegView::Native};
}

std::wstring SystemEngine(const wchar_t* file)
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + file;
}

std::wstring ReadDefault(const wchar_t* path, win::RegView view)
{
    win::Key key;
    std::wstring text;
    if (win::OpenKey(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE, view, key) == ERROR_SUCCESS)
        win::ReadString(key.get(), nullptr, text);
    return text;
}

void WriteDefault(const std::wstring& path, win::RegView view, const std::wstring& text)
{
    win::Key key;
    ASSERT_EQ(win::CreateKey(HKEY_CLASSES_ROOT, path, KEY_SET_VALUE, view, key), ERROR_SUCCESS) << Narrow(path);
    ASSERT_EQ(win::WriteString(key.get(), nullptr, text), ERROR_SUCCESS);
}

bool KeyExists(HKEY root, const std::wstring& path, win::RegView view)
{
    win::Key key;
    return win::OpenKey(root, path, KEY_READ, view, key) == ERROR_SUCCESS;
}

// The key's owner and access list, self-relative.
std::vector<BYTE> Security(const wchar_t* path, win::RegView view)
{
    win::Key key;
    if (win::OpenKey(HKEY_CLASSES_ROOT, path, READ_CONTROL, view, key) != ERROR_SUCCESS) return {};
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD bytes = 0;
    RegGetKeySecurity(key.get(), parts, nullptr, &bytes);
    std::vector<BYTE> data(bytes);
    if (RegGetKeySecurity(key.get(), parts, data.data(), &bytes) != ERROR_SUCCESS) data.clear();
    return data;
}

void SetSecurity(const wchar_t* path, win::RegView view, PSECURITY_DESCRIPTOR descriptor)
{
    win::Key key;
    ASSERT_EQ(win::OpenKey(HKEY_CLASSES_ROOT, path, WRITE_DAC | WRITE_OWNER, view, key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
}

// Owned by SYSTEM; Administrators may read and change owner and access list,
// but not set values; everyone may read: a protected registration.
void Protect(const wchar_t* path, win::RegView view)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:SYD:PAI(A;;0xE0019;;;BA)(A;;KR;;;WD)(A;;KA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr));
    win::LocalMemory owned(descriptor);
    SetSecurity(path, view, descriptor);
}

// What AdjustTokenPrivileges answers when the token lacks the privilege.
BOOL WINAPI NotAllAssigned(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD)
{
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

// A key whose owner, or whose access list, cannot be read.
LONG WINAPI OwnerUnreadable(HKEY key, SECURITY_INFORMATION part, PSECURITY_DESCRIPTOR descriptor, LPDWORD bytes)
{
    return part == OWNER_SECURITY_INFORMATION ? ERROR_ACCESS_DENIED : RegGetKeySecurity(key, part, descriptor, bytes);
}
LONG WINAPI AccessListUnreadable(HKEY key, SECURITY_INFORMATION part, PSECURITY_DESCRIPTOR descriptor, LPDWORD bytes)
{
    return part == DACL_SECURITY_INFORMATION ? ERROR_ACCESS_DENIED : RegGetKeySecurity(key, part, descriptor, bytes);
}

class ScriptEngineRepair : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (win::RegView view : Views())
            for (const wchar_t* key : kEngineKeys) saved_.push_back({key, view, ReadDefault(key, view), Security(key, view)});
    }
    void TearDown() override
    {
        SetAdjustPrivilegesForTest(nullptr);
        SetGetKeySecurityForTest(nullptr);
        for (const Saved& item : saved_) {
            if (!item.security.empty()) SetSecurity(item.key, item.view, const_cast<BYTE*>(item.security.data()));
            WriteDefault(item.key, item.view, item.value);
        }
        for (win::RegView view : Views()) {
            win::DeleteTree(HKEY_LOCAL_MACHINE, kHelperObjects + L"\\" + kScriptScanHelperObject, view);
            win::DeleteTree(HKEY_CLASSES_ROOT, kHelperClass, view);
        }
    }

    void Orphan(win::RegView view)
    {
        for (const wchar_t* key : kEngineKeys) WriteDefault(key, view, L"C:\\Zelmar\\Qengine\\zlsproxy-gone.dll");
    }

    void LayHelperObject(win::RegView view)
    {
        win::Key key;
        ASSERT_EQ(win::CreateKey(HKEY_LOCAL_MACHINE, kHelperObjects + L"\\" + kScriptScanHelperObject, KEY_READ, view, key),
                  ERROR_SUCCESS);
        WriteDefault(kHelperClass + L"\\InProcServer32", view, L"C:\\Zelmar\\Qengine\\zlssbho.dll");
    }

    int Check()
    {
        CRestoreScriptEngines repair([this](const wchar_t* line) { lines_.push_back(line); });
        return repair.CheckAndRestoreScriptEngines();
    }

    bool Logged(const std::wstring& line) const
    {
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }
    std::string Log() const
    {
        std::string text;
        for (const std::wstring& line : lines_) text += "\n    " + Narrow(line);
        return text;
    }

    struct Saved {
        const wchar_t* key;
        win::RegView view;
        std::wstring value;
        std::vector<BYTE> security;
    };
    std::vector<Saved> saved_;
    std::vector<std::wstring> lines_;
};

TEST_F(ScriptEngineRepair, CorrectRegistrationsAreLeftAlone)
{
    for (win::RegView view : Views()) {
        WriteDefault(kJScriptKey, view, SystemEngine(L"\\jscript.dll"));
        WriteDefault(kVBScriptKey, view, SystemEngine(L"\\vbscript.dll"));
    }
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(lines_, (std::vector<std::wstring>{L"Entering  CRestoreScriptEngines::CheckAndRestoreScriptEngines.",
                                                 L"No Deviations were detected in VBScript and/or JavaScript registrations"}))
        << Log();
    EXPECT_EQ(ReadDefault(kJScriptKey, win::RegView::Native), SystemEngine(L"\\jscript.dll"));
}

TEST_F(ScriptEngineRepair, OrphanedEnginesPointAtTheSystemAgainInEveryViewAndTheHelperObjectGoes)
{
    for (win::RegView view : Views()) {
        Orphan(view);
        LayHelperObject(view);
    }
    // Another product's class beside the helper object stays.
    const std::wstring foreign = L"CLSID\\{9C1D2E3F-4A5B-4C6D-8E7F-0A1B2C3D4E5F}";
    WriteDefault(foreign + L"\\InprocServer32", win::RegView::Native, L"C:\\Other\\other.dll");

    EXPECT_EQ(Check(), 1) << Log();
    win::DeleteTree(HKEY_CLASSES_ROOT, foreign, win::RegView::Native);
    for (win::RegView view : Views()) {
        const char* name = view == win::RegView::Bit64 ? "64-bit view" : "default view";
        EXPECT_EQ(ReadDefault(kJScriptKey, view), SystemEngine(L"\\JScript.dll")) << name;
        EXPECT_EQ(ReadDefault(kVBScriptKey, view), SystemEngine(L"\\VBScript.dll")) << name;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects + L"\\" + kScriptScanHelperObject, view)) << name;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHelperClass, view)) << name;
    }
    EXPECT_TRUE(Logged(L"Succeeded in restoring VBScript and/or Javascript engine registration on 32 bit")) << Log();
    EXPECT_EQ(Logged(L"Succeeded in restoring VBScript and/or Javascript engine registration on 64 bit"), Is64()) << Log();
    EXPECT_EQ(lines_.back(), L"Deviations detected in VBScript and/or JavaScript registrations were fixed successfully");
}

// Only VBScript is orphaned (JScript names another file that exists): both
// are written, and a path through an unexpanded variable counts as missing.
TEST_F(ScriptEngineRepair, BothEnginesAreWrittenWhenOneIsOrphaned)
{
    ScratchDir scratch(L"script-engines");
    const std::wstring elsewhere = scratch / L"jscript.dll";
    ASSERT_TRUE(WriteFileBytes(elsewhere, "an engine elsewhere"));
    WriteDefault(kJScriptKey, win::RegView::Native, elsewhere);
    WriteDefault(kVBScriptKey, win::RegView::Native, L"%SystemRoot%\\system32\\vbscript.dll");

    EXPECT_EQ(Check(), 1) << Log();
    EXPECT_TRUE(Logged(L"VBScript Reg is orphaned.")) << Log();
    EXPECT_TRUE(Logged(L"JScript Reg is not orphaned.")) << Log();
    EXPECT_EQ(ReadDefault(kJScriptKey, win::RegView::Native), SystemEngine(L"\\JScript.dll"));
    EXPECT_EQ(ReadDefault(kVBScriptKey, win::RegView::Native), SystemEngine(L"\\VBScript.dll"));
}

// A protected registration is taken over for the write; owner and access list
// are exactly as before afterwards.
TEST_F(ScriptEngineRepair, ProtectedKeysAreWrittenAndGetTheirOwnerAndAccessListBack)
{
    std::vector<std::pair<win::RegView, std::vector<BYTE>>> protectedKeys;
    for (win::RegView view : Views()) {
        Orphan(view);
        Protect(kJScriptKey, view);
        protectedKeys.push_back({view, Security(kJScriptKey, view)});
        win::Key denied;
        ASSERT_NE(win::OpenKey(HKEY_CLASSES_ROOT, kJScriptKey, KEY_SET_VALUE, view, denied), ERROR_SUCCESS)
            << "the protection does not hold back a write";
    }
    EXPECT_EQ(Check(), 1) << Log();
    for (const auto& [view, before] : protectedKeys) {
        EXPECT_EQ(ReadDefault(kJScriptKey, view), SystemEngine(L"\\JScript.dll"));
        EXPECT_EQ(Security(kJScriptKey, view), before) << "owner or access list changed";
    }
    EXPECT_TRUE(Logged(L" CRestoreScriptEngines::Register - Take Ownership and set permissions")) << Log();
}

// An owner or access list that cannot be saved is not replaced, since it could
// not be put back: the key would stay owned by, or open to, one administrator.
TEST_F(ScriptEngineRepair, AnOwnerOrAccessListThatCannotBeSavedIsNotReplaced)
{
    const struct {
        GetKeySecurityFn read;
        const wchar_t* line;
    } cases[] = {{&OwnerUnreadable, L"SetOwnership: RegGetKeySecurity() failed to get the org owner. Error = 5\n"},
                 {&AccessListUnreadable, L"GrantAccess: RegGetKeySecurity() failed to get DACL info. error: 5.\n"}};
    const auto original = std::find_if(saved_.begin(), saved_.end(), [](const Saved& item) {
        return item.key == kJScriptKey && item.view == win::RegView::Native;
    });
    ASSERT_NE(original, saved_.end());
    for (const auto& c : cases) {
        // Writable again, as the test found it.
        if (!original->security.empty())
            SetSecurity(kJScriptKey, win::RegView::Native, const_cast<BYTE*>(original->security.data()));
        Orphan(win::RegView::Native);
        Protect(kJScriptKey, win::RegView::Native);
        const std::vector<BYTE> before = Security(kJScriptKey, win::RegView::Native);
        lines_.clear();
        SetGetKeySecurityForTest(c.read);
        Check();
        SetGetKeySecurityForTest(nullptr);
        EXPECT_TRUE(Logged(c.line)) << Narrow(c.line) << " expected in:" << Log();
        EXPECT_EQ(Security(kJScriptKey, win::RegView::Native), before) << "owner or access list changed; " << Log();
    }
}

// A refused privilege is logged in its words and the repair goes on.
TEST_F(ScriptEngineRepair, RefusedPrivilegesAreLoggedAndTheRepairGoesOn)
{
    SetAdjustPrivilegesForTest(&NotAllAssigned);
    Orphan(win::RegView::Native);
    EXPECT_EQ(Check(), 1) << Log();
    for (const wchar_t* line : {L"EnablePrivilege: Could not Set SE_TAKE_OWNERSHIP_NAME: 1300\n",
                                L"EnablePrivilege: Could not Set SE_RESTORE_NAME: 1300\n",
                                L"EnablePrivilege: Could not Restore SE_TAKE_OWNERSHIP_NAME: 1300\n",
                                L"EnablePrivilege: Could not Restore SE_RESTORE_NAME: 1300\n"})
        EXPECT_TRUE(Logged(line)) << Narrow(line) << " expected in:" << Log();
    EXPECT_EQ(ReadDefault(kVBScriptKey, win::RegView::Native), SystemEngine(L"\\VBScript.dll"));
}

// A helper-object key that cannot be deleted (it holds another subkey) does
// not make the repair fail.
TEST_F(ScriptEngineRepair, AHelperObjectThatStaysDoesNotFailTheRepair)
{
    Orphan(win::RegView::Native);
    LayHelperObject(win::RegView::Native);
    WriteDefault(kHelperClass + L"\\ProgID", win::RegView::Native, L"Zelmar.ScriptScan.1");
    EXPECT_EQ(Check(), 1) << Log();
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kHelperClass, win::RegView::Native));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHelperClass + L"\\InProcServer32", win::RegView::Native));
}

// The 64-bit pass tests the files with redirection off: a 64-bit registration
// naming a file that only the real system folder holds is not orphaned.
TEST_F(ScriptEngineRepair, TheSixtyFourBitPassJudgesByTheRealSystemFolder)
{
    if (!Is64()) GTEST_SKIP() << "no 64-bit view on 32-bit Windows";
    const std::wstring marker = SystemEngine(L"\\zl-engine-only-64.dll");
    {
        win::FsRedirectionOff off;
        ASSERT_TRUE(off.active());
        ASSERT_TRUE(WriteFileBytes(marker, "64-bit engine"));
    }
    ASSERT_FALSE(FileExists(marker)) << "the 32-bit system folder holds the marker too";
    for (const wchar_t* key : kEngineKeys) WriteDefault(key, win::RegView::Bit64, marker);

    const int result = Check();
    {
        win::FsRedirectionOff off;
        DeleteFileW(marker.c_str());
    }
    EXPECT_EQ(result, 0) << Log();
    EXPECT_EQ(ReadDefault(kJScriptKey, win::RegView::Bit64), marker);
}

// On Windows XP the keys are not protected: nothing is taken over, so a key
// the user may not write stays as it is and the repair reports the failure.
TEST_F(ScriptEngineRepair, OnWindowsXpNoKeyIsTakenOver)
{
    Orphan(win::RegView::Native);
    Protect(kJScriptKey, win::RegView::Native);
    const std::vector<BYTE> security = Security(kJScriptKey, win::RegView::Native);
    ScratchDir scratch(L"script-engines-xp");
    const std::wstring log = scratch / L"lines.txt";
    ProgramVersion xp(L"script_engine_child.exe", L"winxp");
    EXPECT_EQ(RunAndWait(L"\"" + BuildPath(L"tests\\AGSCommon\\script_engine_child.exe") + L"\" \"" + log + L"\""), 2u);
    const std::vector<std::string> lines = SplitLines(ReadFileBytes(log));
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has(" CRestoreScriptEngines::Register - Restoring engines, detected that OS is NOT Vista or above"));
    EXPECT_FALSE(has(" CRestoreScriptEngines::Register - Take Ownership and set permissions"));
    EXPECT_TRUE(has(" CRestoreScriptEngines::Register - RegOpenKeyEx returned 5"));
    EXPECT_EQ(Security(kJScriptKey, win::RegView::Native), security);
    EXPECT_EQ(ReadDefault(kVBScriptKey, win::RegView::Native), SystemEngine(L"\\VBScript.dll"));
}

TEST_F(ScriptEngineRepair, ThirtyTwoBitWindowsHasNoSixtyFourBitPass)
{
    if (Is64()) GTEST_SKIP() << "64-bit Windows";
    Orphan(win::RegView::Native);
    EXPECT_EQ(Check(), 1);
    for (const std::wstring& line : lines_) EXPECT_EQ(line.find(L"64 bit"), std::wstring::npos) << Narrow(line);
}

}  // namespace
