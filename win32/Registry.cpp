#include "Registry.h"

#include "Removal.h"

#include <vector>

namespace win {

LONG OpenKey(HKEY root, const std::wstring& path, REGSAM access, RegView view, Key& out)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, access | view, &key);
    if (rc == ERROR_SUCCESS) out.reset(key);
    return rc;
}

LONG CreateKey(HKEY root, const std::wstring& path, REGSAM access, RegView view, Key& out)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access | view, nullptr,
                              &key, nullptr);
    if (rc == ERROR_SUCCESS) out.reset(key);
    return rc;
}

LONG ReadString(HKEY key, const wchar_t* name, std::wstring& out, DWORD* typeOut)
{
    DWORD type = 0;
    DWORD bytes = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
    std::vector<wchar_t> buffer;
    do {
        // Room for a terminator the stored data may lack.
        buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD size = bytes;
        rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS) bytes = size;
        else if (rc == ERROR_MORE_DATA) bytes = size;
    } while (rc == ERROR_MORE_DATA);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    out.assign(buffer.data());
    if (typeOut) *typeOut = type;
    return ERROR_SUCCESS;
}

LONG ReadStringInto(HKEY key, const wchar_t* name, wchar_t* buffer, size_t units, DWORD* type)
{
    std::wstring text;
    LONG rc = ReadString(key, name, text, type);
    if (rc != ERROR_SUCCESS) return rc;
    if (text.size() >= units) {
        buffer[0] = L'\0';
        return ERROR_MORE_DATA;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return ERROR_SUCCESS;
}

LONG ReadDword(HKEY key, const wchar_t* name, DWORD& out)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_DWORD || size != sizeof(value)) return ERROR_INVALID_DATATYPE;
    out = value;
    return ERROR_SUCCESS;
}

LONG WriteString(HKEY key, const wchar_t* name, const std::wstring& value, DWORD type)
{
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG DeleteTree(HKEY root, const std::wstring& path, RegView view)
{
    const removal::Record r = removal::RemoveKeyTree(root, path, view);
    return r.outcome == removal::Outcome::Removed ? ERROR_SUCCESS : static_cast<LONG>(r.error);
}

}  // namespace win
