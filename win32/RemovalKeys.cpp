// The removal layer: registry keys and values. Trees are walked here, never by
// SHDeleteKeyW or RegDeleteTreeW, which follow registry links into their targets.
#include "RemovalPaths.h"

namespace win::removal {

namespace {

using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
using NtDeleteKeyFn = LONG(NTAPI*)(HANDLE);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

// Looked up at run time: 32-bit Windows XP has no RegDeleteKeyExW, and the
// native key deletion is not part of the documented interface.
struct KeyFunctions {
    RegDeleteKeyExFn deleteKeyEx = nullptr;
    NtDeleteKeyFn ntDeleteKey = nullptr;
    RtlNtStatusToDosErrorFn statusToError = nullptr;
};

const KeyFunctions& Functions()
{
    static const KeyFunctions functions = [] {
        KeyFunctions f;
        HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (advapi) f.deleteKeyEx = reinterpret_cast<RegDeleteKeyExFn>(GetProcAddress(advapi, "RegDeleteKeyExW"));
        if (ntdll) {
            f.ntDeleteKey = reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(ntdll, "NtDeleteKey"));
            f.statusToError =
                reinterpret_cast<RtlNtStatusToDosErrorFn>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
        }
        return f;
    }();
    return functions;
}

constexpr size_t kKeyNameUnits = 256;  // a key name has at most 255 units

Record KeyRecord(HKEY root, const std::wstring& path, RegView view)
{
    Record r;
    r.kind = Kind::Key;
    r.root = root;
    r.path = path;
    r.view = view;
    return r;
}

void SetResult(Record& r, LONG rc)
{
    r.error = static_cast<DWORD>(rc);
    r.outcome = rc == ERROR_SUCCESS          ? Outcome::Removed
                : rc == ERROR_FILE_NOT_FOUND ? Outcome::AlreadyAbsent
                                             : Outcome::Failed;
}

// The key itself, not what it may link to.
LONG OpenItself(HKEY root, const std::wstring& path, REGSAM access, RegView view, Key& out)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, access | view, &key);
    if (rc == ERROR_SUCCESS) out.reset(key);
    return rc;
}

bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

bool StillThere(HKEY root, const std::wstring& path, RegView view)
{
    Key key;
    return OpenItself(root, path, KEY_QUERY_VALUE, view, key) != ERROR_FILE_NOT_FOUND;
}

// One deletion of one key, not yet reported.
Record DeleteOnce(HKEY root, const std::wstring& path, RegView view)
{
    Record r = KeyRecord(root, path, view);
    if (path.find_first_not_of(L'\\') == std::wstring::npos) {
        // An empty path names the root itself.
        r.outcome = Outcome::Refused;
        r.verdict = Verdict::Malformed;
        r.error = kRefusedMalformed;
        return r;
    }
    Key key;
    LONG rc = OpenItself(root, path, KEY_QUERY_VALUE | DELETE, view, key);
    if (rc != ERROR_SUCCESS) {
        SetResult(r, rc);
        return r;
    }
    if (IsRegistryLink(key.get())) {
        r.kind = Kind::KeyLink;
        const KeyFunctions& f = Functions();
        if (!f.ntDeleteKey) {
            SetResult(r, ERROR_PROC_NOT_FOUND);
            return r;
        }
        const LONG status = f.ntDeleteKey(key.get());
        SetResult(r, status == 0 ? ERROR_SUCCESS
                     : f.statusToError ? static_cast<LONG>(f.statusToError(status))
                                       : ERROR_ACCESS_DENIED);
        return r;
    }
    key.reset();
    const KeyFunctions& f = Functions();
    rc = f.deleteKeyEx ? f.deleteKeyEx(root, path.c_str(), static_cast<REGSAM>(view), 0)
                       : RegDeleteKeyW(root, path.c_str());
    if (rc == ERROR_SUCCESS && StillThere(root, path, view)) rc = static_cast<LONG>(kStillPresent);
    SetResult(r, rc);
    return r;
}

std::wstring ChildPath(const std::wstring& path, const wchar_t* name)
{
    return path.back() == L'\\' ? path + name : path + L"\\" + name;
}

// Depth-first: the key is deleted at once when it can be, else its subkeys
// first. Each subkey is visited once; the listing never runs longer than the
// number of subkeys the key held when it was opened.
Record Walk(HKEY root, const std::wstring& path, RegView view, KeyListener* listener)
{
    const Record first = DeleteOnce(root, path, view);
    if (listener) listener->FirstAttempt(first);
    if (first.outcome == Outcome::Removed || first.outcome == Outcome::Refused || first.kind == Kind::KeyLink) {
        // A link that would not go is never opened: that would enter its target.
        Notify(first);
        return first;
    }
    Key key;
    const LONG rc = OpenKey(root, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, view, key);
    if (listener) listener->Opened(rc);
    if (rc != ERROR_SUCCESS) {
        Record r = KeyRecord(root, path, view);
        SetResult(r, rc);
        Notify(r);
        return r;
    }
    DWORD subkeys = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    DWORD index = 0;
    std::wstring previous;
    for (DWORD visit = 0; visit < subkeys; ++visit) {
        wchar_t name[kKeyNameUnits];
        DWORD units = kKeyNameUnits;
        if (RegEnumKeyExW(key.get(), index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (visit == 0 && listener) listener->SubkeysFound();
        if (name == previous) {
            // Reported gone, yet listed again: counted once, then passed over.
            ++index;
            continue;
        }
        previous = name;
        const std::wstring child = ChildPath(path, name);
        const bool entered = !listener || listener->Entering(child);
        if (entered && Walk(root, child, view, listener).gone()) continue;
        ++index;  // it stays: the next subkey now sits behind it
        if (listener && !listener->GoOnAfterFailedSubkey()) break;
    }
    key.reset();
    const Record second = DeleteOnce(root, path, view);
    if (listener) listener->SecondAttempt(second);
    Notify(second);
    return second;
}

}  // namespace

Record RemoveKey(HKEY root, const std::wstring& path, RegView view)
{
    const Record r = DeleteOnce(root, path, view);
    Notify(r);
    return r;
}

Record RemoveKeyTree(HKEY root, const std::wstring& path, RegView view, KeyListener* listener)
{
    if (listener && !listener->Entering(path)) {
        Record r = KeyRecord(root, path, view);
        r.error = ERROR_FILENAME_EXCED_RANGE;
        return r;
    }
    return Walk(root, path, view, listener);
}

Record RemoveValue(HKEY root, const std::wstring& path, RegView view, const wchar_t* name)
{
    Record r = KeyRecord(root, path, view);
    r.kind = Kind::Value;
    r.value = name ? name : L"";
    Key key;
    LONG rc = OpenKey(root, path, KEY_SET_VALUE, view, key);
    if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(key.get(), name);
    SetResult(r, rc);
    Notify(r);
    return r;
}

}  // namespace win::removal
