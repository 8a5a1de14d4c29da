#include "FolderValue.h"

#include "Handle.h"

#include <vector>

namespace {

// Reads a string value and its type; text is cut at its first terminator.
LONG ReadTyped(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& text, DWORD& type)
{
    DWORD bytes = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
    if (bytes > maxChars * sizeof(wchar_t)) return ERROR_MORE_DATA;
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    DWORD size = static_cast<DWORD>(maxChars * sizeof(wchar_t));
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
    std::wstring value(buffer.data(), wcsnlen(buffer.data(), size / sizeof(wchar_t)));
    // Stored without a terminator and filling the whole buffer: the fixed buffer has no room for one.
    if (value.size() > maxChars - 1) return ERROR_MORE_DATA;
    text = value;
    return ERROR_SUCCESS;
}

}  // namespace

LONG ReadFolderValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out)
{
    std::wstring text;
    DWORD type = 0;
    LONG rc = ReadTyped(key, name, maxChars, text, type);
    if (rc != ERROR_SUCCESS) return rc;
    if (type == REG_EXPAND_SZ) {
        std::vector<wchar_t> expanded(maxChars, L'\0');
        DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(maxChars));
        if (needed == 0) return static_cast<LONG>(GetLastError());
        if (needed > maxChars) return ERROR_MORE_DATA;
        text.assign(expanded.data());
    }
    out = text;
    return ERROR_SUCCESS;
}

LONG ReadFolderValue(HKEY root, const wchar_t* path, const wchar_t* name, size_t maxChars, win::RegView view,
                     std::wstring& out)
{
    win::Key key;
    LONG rc = win::OpenKey(root, path, KEY_READ, view, key);
    if (rc != ERROR_SUCCESS) return rc;
    return ReadFolderValue(key.get(), name, maxChars, out);
}

LONG ReadBoundedString(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& out)
{
    DWORD type = 0;
    std::wstring text;
    LONG rc = ReadTyped(key, name, maxChars, text, type);
    if (rc != ERROR_SUCCESS) return rc;
    out = text;
    return ERROR_SUCCESS;
}
