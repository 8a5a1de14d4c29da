#pragma once
// Repair of the script engines' registrations that the older suite's script
// scanner pointed at its own proxy module: an orphaned VBScript or JScript
// in-process server registration is pointed back at the engine in the system
// folder, in the 32-bit view and, on 64-bit Windows, in the 64-bit view. On
// Windows Vista and later each key is taken over for the write and its owner
// and access list are put back afterwards. The same pass removes the suite's
// script-scanning browser helper object. Every line goes to the run log.

#include "Handle.h"
#include "Wow64.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

// Where the run-log lines go: one finished line per call.
using RunLogLine = std::function<void(const wchar_t* line)>;

// The class identifier of the suite's script-scanning browser helper object.
inline constexpr wchar_t kScriptScanHelperObject[] = L"{3E9B6A1C-7D24-4F58-B0C1-5A6D7E8F9012}";

enum class ScriptEngine { JScript, VBScript };

// A self-relative copy of one part of a key's security descriptor (owner or
// access list); empty when nothing was saved.
using SavedSecurity = std::vector<BYTE>;

// The result of CheckAndRestoreScriptEngines.
enum ScriptEngineCheck { kNoDeviation = 0, kDeviationsFixed = 1, kDeviationsNotFixed = 2 };

class CRestoreScriptEngines {
public:
    explicit CRestoreScriptEngines(RunLogLine log);
    virtual ~CRestoreScriptEngines() = default;

    // Both passes; 0, 1 or 2 as ScriptEngineCheck.
    int CheckAndRestoreScriptEngines();

    // The engine's key opens in the view (view64: the 64-bit view), its
    // default value fits 260 characters and no file exists at that path.
    bool IsEngineOrphaned(ScriptEngine engine, bool view64);

    // Points both engines at the system folder and removes the helper object.
    // 0 if both were written, E_FAIL otherwise.
    HRESULT RestoreFromProxies(bool view64);

    // Writes the engine key's default value (HKEY_CLASSES_ROOT); on Vista and
    // later with the key taken over for the write. True if it was written.
    bool Register(const wchar_t* engineKey, const wchar_t* modulePath, bool view64);

    // Makes the current user the key's owner; returns the previous owner part.
    // Nothing is changed when the previous owner could not be saved, since
    // it could not be put back.
    SavedSecurity SetOwnership(const wchar_t* key, bool view64);
    // Gives the current user alone full access; returns the previous access
    // list. Nothing is changed when that list could not be saved.
    SavedSecurity GrantAccess(bool view64, const wchar_t* key);
    // Put the saved part back and free it (nothing when it is empty).
    void RestoreAccess(bool view64, const wchar_t* key, SavedSecurity saved);
    void RestoreOwner(bool view64, const wchar_t* key, SavedSecurity saved);

    // Enables (true) or restores (false) the take-ownership and restore privileges.
    void EnablePrivilege(bool enable);

    // Switches WOW64 file-system redirection off for this thread; the cookie
    // holds the switch until RevertFsRedirection. False off WOW64 or on failure.
    static bool DisableFsRedirection(std::optional<win::FsRedirectionOff>& cookie);
    static bool RevertFsRedirection(std::optional<win::FsRedirectionOff>& cookie);

    // Deletes the helper object's keys in the view; failures are ignored. Always true.
    bool RemoveScriptScanHelperObject(bool view64);

private:
    void Say(const wchar_t* format, ...);

    // Opens the key into key and copies its owner (owner true) or access-list
    // part; empty when either failed.
    SavedSecurity SaveSecurity(const wchar_t* keyPath, bool view64, bool owner, win::Key& key);

    RunLogLine log_;
};

// Test seam: the token adjustment EnablePrivilege makes (AdjustTokenPrivileges
// unless replaced). Under Wine every privilege adjusts, so a refused one is
// reachable only here. Returns the previous function.
using AdjustPrivilegesFn = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
AdjustPrivilegesFn SetAdjustPrivilegesForTest(AdjustPrivilegesFn adjust);

// Test seam: the reading of a key's owner or access list (RegGetKeySecurity
// unless replaced), which Wine never refuses on a key opened for it. Returns
// the previous function.
using GetKeySecurityFn = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, LPDWORD);
GetKeySecurityFn SetGetKeySecurityForTest(GetKeySecurityFn read);
