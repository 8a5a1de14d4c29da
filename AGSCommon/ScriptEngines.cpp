#include "ScriptEngines.h"

#include "Handle.h"
#include "PlatformInfo.h"
#include "Registry.h"
#include "Removal.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr REGSAM kView64 = KEY_WOW64_64KEY;
constexpr wchar_t kHelperObjects[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr size_t kLineChars = 4096;
constexpr DWORD kValueBytes = 520;  // the registration's path buffer: 260 wide characters

struct EngineRow {
    const wchar_t* key;
    const wchar_t* file;
    UINT systemFolderChars;  // the system folder's buffer before the file name is added
};

const EngineRow& Row(ScriptEngine engine)
{
    static const EngineRow rows[] = {
        {L"CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32", L"\\JScript.dll", 247},
        {L"CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32", L"\\VBScript.dll", 246}};
    return rows[engine == ScriptEngine::JScript ? 0 : 1];
}

REGSAM Access(REGSAM access, bool view64) { return view64 ? access | kView64 : access; }

bool IsProtected() { return GetPlatformVersion().dwMajorVersion >= 6; }

AdjustPrivilegesFn& AdjustPrivileges()
{
    static AdjustPrivilegesFn adjust = &AdjustTokenPrivileges;
    return adjust;
}

GetKeySecurityFn& GetKeySecurity()
{
    static GetKeySecurityFn read = &RegGetKeySecurity;
    return read;
}

win::Key OpenEngineKey(const wchar_t* key, REGSAM access, bool view64, LONG& rc)
{
    HKEY opened = nullptr;
    rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, Access(access, view64), &opened);
    return win::Key(rc == ERROR_SUCCESS ? opened : nullptr);
}

// The token's user, in a buffer that holds the TOKEN_USER record and its SID.
std::vector<BYTE> ReadTokenUser(HANDLE token)
{
    DWORD bytes = 0;
    GetTokenInformation(token, ::TokenUser, nullptr, 0, &bytes);
    std::vector<BYTE> user(bytes);
    if (bytes == 0 || !GetTokenInformation(token, ::TokenUser, user.data(), bytes, &bytes)) user.clear();
    return user;
}

PSID UserSid(std::vector<BYTE>& user) { return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }

}  // namespace

AdjustPrivilegesFn SetAdjustPrivilegesForTest(AdjustPrivilegesFn adjust)
{
    AdjustPrivilegesFn previous = AdjustPrivileges();
    AdjustPrivileges() = adjust ? adjust : &AdjustTokenPrivileges;
    return previous;
}

GetKeySecurityFn SetGetKeySecurityForTest(GetKeySecurityFn read)
{
    return std::exchange(GetKeySecurity(), read ? read : &RegGetKeySecurity);
}

CRestoreScriptEngines::CRestoreScriptEngines(RunLogLine log) : log_(std::move(log)) {}

void CRestoreScriptEngines::Say(const wchar_t* format, ...)
{
    if (!log_) return;
    std::unique_ptr<wchar_t[]> line(new (std::nothrow) wchar_t[kLineChars]);
    if (!line) return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(line.get(), kLineChars - 1, format, args);
    va_end(args);
    line[kLineChars - 1] = L'\0';
    log_(line.get());
}

int CRestoreScriptEngines::CheckAndRestoreScriptEngines()
{
    Say(L"Entering  CRestoreScriptEngines::CheckAndRestoreScriptEngines.");
    int result = kNoDeviation;
    const bool jscript = IsEngineOrphaned(ScriptEngine::JScript, false);
    const bool vbscript = IsEngineOrphaned(ScriptEngine::VBScript, false);
    if (jscript || vbscript) {
        Say(L"VBScript Reg %ls orphaned.", vbscript ? L"is" : L"is not");
        Say(L"JScript Reg %ls orphaned.", jscript ? L"is" : L"is not");
        if (FAILED(RestoreFromProxies(false))) {
            Say(L"Failed to restore VBScript and/or Javascript engine registration on 32 bit");
            result = kDeviationsNotFixed;
        } else {
            Say(L"Succeeded in restoring VBScript and/or Javascript engine registration on 32 bit");
            result = kDeviationsFixed;
        }
    }

    if (IsWow64()) {
        if (IsEngineOrphaned(ScriptEngine::JScript, true) || IsEngineOrphaned(ScriptEngine::VBScript, true)) {
            if (FAILED(RestoreFromProxies(true))) {
                Say(L"Failed to restore VBScript and/or Javascript engine registration on 64 bit");
                result = kDeviationsNotFixed;
            } else {
                Say(L"Succeeded in restoring VBScript and/or Javascript engine registration on 64 bit");
                if (result != kDeviationsNotFixed) result = kDeviationsFixed;
            }
        }
    }

    if (result == kDeviationsNotFixed)
        Say(L"Deviations detected in VBScript and/or JavaScript registrations could not be fixed");
    else if (result == kDeviationsFixed)
        Say(L"Deviations detected in VBScript and/or JavaScript registrations were fixed successfully");
    else
        Say(L"No Deviations were detected in VBScript and/or JavaScript registrations");
    return result;
}

bool CRestoreScriptEngines::IsEngineOrphaned(ScriptEngine engine, bool view64)
{
    LONG rc = ERROR_SUCCESS;
    win::Key key = OpenEngineKey(Row(engine).key, KEY_QUERY_VALUE, view64, rc);
    if (!key) return false;
    wchar_t path[kValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD bytes = kValueBytes;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes) != ERROR_SUCCESS)
        return false;
    if (!view64) return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
    // The 64-bit engine's file lies in the real system folder: redirection is
    // off around that one test alone, never around a log line or a library load.
    std::optional<win::FsRedirectionOff> redirection;
    if (!DisableFsRedirection(redirection)) return false;
    const bool missing = GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
    RevertFsRedirection(redirection);
    return missing;
}

HRESULT CRestoreScriptEngines::RestoreFromProxies(bool view64)
{
    Say(L"Restoring script engines from proxies");
    const bool privileges = IsProtected();
    if (privileges) EnablePrivilege(true);
    bool registered = true;
    for (ScriptEngine engine : {ScriptEngine::JScript, ScriptEngine::VBScript}) {
        const EngineRow& row = Row(engine);
        wchar_t path[kValueBytes / sizeof(wchar_t)] = {};
        const UINT chars = GetSystemDirectoryW(path, row.systemFolderChars);
        // A system folder that does not fit its buffer gives no path to write.
        const bool formed = chars > 0 && chars < row.systemFolderChars;
        if (formed) wcscat(path, row.file);
        if (!formed || !Register(row.key, path, view64)) registered = false;
    }
    const bool removed = RemoveScriptScanHelperObject(view64);
    if (privileges) EnablePrivilege(false);
    return registered && removed ? S_OK : E_FAIL;
}

bool CRestoreScriptEngines::Register(const wchar_t* engineKey, const wchar_t* modulePath, bool view64)
{
    const bool isProtected = IsProtected();
    Say(L" CRestoreScriptEngines::Register - Restoring engines, detected that OS %ls Vista or above",
        isProtected ? L"is" : L"is NOT");
    SavedSecurity owner, access;
    if (isProtected) {
        Say(L" CRestoreScriptEngines::Register - Take Ownership and set permissions");
        owner = SetOwnership(engineKey, view64);
        access = GrantAccess(view64, engineKey);
    }
    LONG rc = ERROR_SUCCESS;
    win::Key key = OpenEngineKey(engineKey, KEY_SET_VALUE, view64, rc);
    if (!key) {
        Say(L" CRestoreScriptEngines::Register - RegOpenKeyEx returned %0x", static_cast<unsigned>(rc));
    } else {
        Say(L"CRestoreScriptEngines::Register - RegOpenKeyEx returned success");
        const DWORD bytes = static_cast<DWORD>((wcslen(modulePath) + 1) * sizeof(wchar_t));
        rc = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(modulePath), bytes);
        Say(L" CRestoreScriptEngines::Register - RegSetValue returned %0x", static_cast<unsigned>(rc));
        key.reset();
    }
    if (isProtected) {
        Say(L" CRestoreScriptEngines::Register - Restore Ownership and permissions");
        // The access list first: putting the owner back may take away the right to.
        if (!access.empty()) RestoreAccess(view64, engineKey, std::move(access));
        if (!owner.empty()) RestoreOwner(view64, engineKey, std::move(owner));
    }
    return rc == ERROR_SUCCESS;
}

SavedSecurity CRestoreScriptEngines::SaveSecurity(const wchar_t* keyPath, bool view64, bool owner, win::Key& key)
{
    struct SecurityPart {
        REGSAM access;
        SECURITY_INFORMATION part;
        const wchar_t* openFailed;
        const wchar_t* readFailed;
    };
    static const SecurityPart parts[] = {
        {READ_CONTROL | WRITE_OWNER, OWNER_SECURITY_INFORMATION,
         L"SetOwnership: RegOpenKeyEx(READ_CONTROL|WRITE_OWNER) failed with %d error\n",
         L"SetOwnership: RegGetKeySecurity() failed to get the org owner. Error = %d\n"},
        {READ_CONTROL | WRITE_DAC, DACL_SECURITY_INFORMATION,
         L"GrantAccess: RegOpenKeyEx(READ_CONTROL|WRITE_DAC) failed with %d error.\n",
         L"GrantAccess: RegGetKeySecurity() failed to get DACL info. error: %d.\n"}};
    const SecurityPart& part = parts[owner ? 0 : 1];
    LONG rc = ERROR_SUCCESS;
    key = OpenEngineKey(keyPath, part.access, view64, rc);
    if (!key) {
        Say(part.openFailed, static_cast<int>(rc));
        return {};
    }
    // Asked once for the size and once for the data.
    DWORD bytes = 0;
    rc = GetKeySecurity()(key.get(), part.part, nullptr, &bytes);
    SavedSecurity saved(rc == ERROR_INSUFFICIENT_BUFFER ? bytes : 0);
    if (!saved.empty()) rc = GetKeySecurity()(key.get(), part.part, saved.data(), &bytes);
    if (saved.empty() || rc != ERROR_SUCCESS) {
        saved.clear();
        Say(part.readFailed, static_cast<int>(rc));
    }
    return saved;
}

SavedSecurity CRestoreScriptEngines::SetOwnership(const wchar_t* keyPath, bool view64)
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
        Say(L"SetOwnership: OpenProcessToken failed with %d error\n", static_cast<int>(GetLastError()));
        return {};
    }
    win::Handle token(opened);
    std::vector<BYTE> user = ReadTokenUser(token.get());
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (!user.empty()) SetSecurityDescriptorOwner(&descriptor, UserSid(user), FALSE);

    win::Key key;
    SavedSecurity saved = SaveSecurity(keyPath, view64, true, key);
    // An owner that could not be saved could not be put back: the key stays as it is.
    if (saved.empty()) return {};
    const LONG rc = RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION, &descriptor);
    if (rc != ERROR_SUCCESS)
        Say(L"SetOwnership: RegSetKeySecurity() failed to set current user as the owner. Error = %d\n",
            static_cast<int>(rc));
    return saved;
}

SavedSecurity CRestoreScriptEngines::GrantAccess(bool view64, const wchar_t* keyPath)
{
    win::Key key;
    SavedSecurity saved = SaveSecurity(keyPath, view64, false, key);
    // An access list that could not be saved could not be put back: the key stays as it is.
    if (saved.empty()) return {};

    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) return saved;
    win::Handle token(opened);
    std::vector<BYTE> user = ReadTokenUser(token.get());
    if (user.empty()) return saved;
    // One entry: the user, with full access. It replaces the list until it is restored.
    const DWORD aclBytes = GetLengthSid(UserSid(user)) + 16;
    std::vector<BYTE> aclBuffer(aclBytes);
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer.data());
    SECURITY_DESCRIPTOR descriptor;
    LONG rc = ERROR_SUCCESS;
    if (!InitializeAcl(acl, aclBytes, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, UserSid(user)) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        rc = static_cast<LONG>(GetLastError());
    if (rc == ERROR_SUCCESS) rc = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
    if (rc != ERROR_SUCCESS)
        Say(L"GrantAccess: RegSetKeySecurity Could not set add permissions. Error: %d\n", static_cast<int>(rc));
    return saved;
}

void CRestoreScriptEngines::RestoreAccess(bool view64, const wchar_t* keyPath, SavedSecurity saved)
{
    LONG rc = ERROR_SUCCESS;
    win::Key key = OpenEngineKey(keyPath, READ_CONTROL | WRITE_DAC, view64, rc);
    if (!key) {
        Say(L"RestoreAccess: RegOpenKeyEx(READ_CONTROL|WRITE_DAC) failed with %d error\n", static_cast<int>(rc));
        return;
    }
    rc = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data());
    if (rc != ERROR_SUCCESS) Say(L"RestoreAccess: RegSetKeySecurity() failed to restore with %d error\n", static_cast<int>(rc));
}

void CRestoreScriptEngines::RestoreOwner(bool view64, const wchar_t* keyPath, SavedSecurity saved)
{
    LONG rc = ERROR_SUCCESS;
    win::Key key = OpenEngineKey(keyPath, WRITE_OWNER, view64, rc);
    if (!key) {
        Say(L"RegOpenKeyEx(%s) with WRITE_OWNER Failed. Error = %d\n", keyPath, static_cast<int>(rc));
        return;
    }
    rc = RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION, saved.data());
    if (rc != ERROR_SUCCESS) Say(L"RegSetKeySecurity: Failed to restore owner. Error = %d\n", static_cast<int>(rc));
}

void CRestoreScriptEngines::EnablePrivilege(bool enable)
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
        Say(L"EnablePrivilege: OpenProcessToken failed with %d error\n", static_cast<int>(GetLastError()));
        return;
    }
    win::Handle token(opened);
    struct PrivilegeRow {
        const wchar_t* name;
        const wchar_t* message;
    };
    static const PrivilegeRow privileges[] = {
        {SE_TAKE_OWNERSHIP_NAME, L"EnablePrivilege: Could not %s SE_TAKE_OWNERSHIP_NAME: %d\n"},
        {SE_RESTORE_NAME, L"EnablePrivilege: Could not %s SE_RESTORE_NAME: %d\n"}};
    for (const PrivilegeRow& privilege : privileges) {
        DWORD outcome = ERROR_SUCCESS;
        TOKEN_PRIVILEGES asked{};
        asked.PrivilegeCount = 1;
        if (!LookupPrivilegeValueW(nullptr, privilege.name, &asked.Privileges[0].Luid)) {
            outcome = GetLastError();
        } else {
            // The first adjustment changes nothing and reads the previous state.
            TOKEN_PRIVILEGES previous{};
            DWORD bytes = sizeof(previous);
            AdjustPrivileges()(token.get(), FALSE, &asked, sizeof(previous), &previous, &bytes);
            previous.PrivilegeCount = 1;
            previous.Privileges[0].Luid = asked.Privileges[0].Luid;
            if (enable) previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
            else previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
            AdjustPrivileges()(token.get(), FALSE, &previous, bytes, nullptr, nullptr);
            outcome = GetLastError();
        }
        if (outcome != ERROR_SUCCESS) Say(privilege.message, enable ? L"Set" : L"Restore", static_cast<int>(outcome));
    }
}

bool CRestoreScriptEngines::DisableFsRedirection(std::optional<win::FsRedirectionOff>& cookie)
{
    cookie.emplace();
    if (!cookie->active()) cookie.reset();
    return cookie.has_value();
}

bool CRestoreScriptEngines::RevertFsRedirection(std::optional<win::FsRedirectionOff>& cookie)
{
    const bool held = cookie.has_value();
    cookie.reset();
    return held;
}

bool CRestoreScriptEngines::RemoveScriptScanHelperObject(bool view64)
{
    namespace removal = win::removal;
    const std::wstring object = kScriptScanHelperObject;
    if (view64) {
        win::Key helperObjects, classes;
        if (win::OpenKey(HKEY_LOCAL_MACHINE, kHelperObjects, KEY_SET_VALUE, win::RegView::Bit64, helperObjects) ==
            ERROR_SUCCESS)
            removal::RemoveKey(helperObjects.get(), object, win::RegView::Bit64);
        if (win::OpenKey(HKEY_CLASSES_ROOT, L"CLSID", KEY_SET_VALUE, win::RegView::Bit64, classes) != ERROR_SUCCESS)
            return true;
        removal::RemoveKey(classes.get(), object + L"\\InProcServer32", win::RegView::Bit64);
        removal::RemoveKey(classes.get(), object, win::RegView::Bit64);
        return true;
    }
    removal::RemoveKey(HKEY_LOCAL_MACHINE, std::wstring(kHelperObjects) + L"\\" + object, win::RegView::Native);
    removal::RemoveKey(HKEY_CLASSES_ROOT, L"CLSID\\" + object + L"\\InProcServer32", win::RegView::Native);
    removal::RemoveKey(HKEY_CLASSES_ROOT, L"CLSID\\" + object, win::RegView::Native);
    return true;
}
