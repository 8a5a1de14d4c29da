#pragma once
// What the deletion tests share: the system's pending rename list (the paths
// registered for deletion at the next restart, in order) and held files.

#include "Handle.h"
#include "Registry.h"

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

class PendingList {
public:
    PendingList() { saved_ = Raw(&had_); }
    // Restores the list as it was, when asked to.
    ~PendingList()
    {
        if (!restore_) return;
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kKey, KEY_SET_VALUE, win::RegView::Native, key);
        if (!had_) RegDeleteValueW(key.get(), kValue);
        else RegSetValueExW(key.get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_.data()),
                            static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
    }
    PendingList(const PendingList&) = delete;
    PendingList& operator=(const PendingList&) = delete;
    void KeepChanges() { restore_ = false; }

    // The sources of the deletions (an empty target), without "\??\".
    static std::vector<std::wstring> Deletions()
    {
        const std::wstring data = Raw(nullptr);
        std::vector<std::wstring> items;
        for (size_t pos = 0; pos < data.size() && data[pos] != L'\0';) {
            const std::wstring source = data.c_str() + pos;
            pos = std::min(pos + source.size() + 1, data.size());
            const std::wstring target = data.c_str() + pos;
            pos += target.size() + 1;
            if (target.empty()) items.push_back(source.rfind(L"\\??\\", 0) == 0 ? source.substr(4) : source);
        }
        return items;
    }
    // Where path stands in Deletions(), letter case ignored; npos if absent.
    static size_t Position(const std::wstring& path)
    {
        const auto items = Deletions();
        for (size_t i = 0; i < items.size(); ++i)
            if (_wcsicmp(items[i].c_str(), path.c_str()) == 0) return i;
        return std::wstring::npos;
    }

private:
    static constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr wchar_t kValue[] = L"PendingFileRenameOperations";
    static std::wstring Raw(bool* present)
    {
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kKey, KEY_QUERY_VALUE, win::RegView::Native, key);
        DWORD bytes = 0;
        const bool there = RegQueryValueExW(key.get(), kValue, nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
        if (present) *present = there;
        std::wstring data(bytes / sizeof(wchar_t), L'\0');
        if (there) RegQueryValueExW(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes);
        return data;
    }
    bool had_ = false, restore_ = true;
    std::wstring saved_;
};

// The file opened for reading without delete sharing: it can be neither
// deleted nor moved while the handle lives.
inline win::Handle Hold(const std::wstring& path)
{
    return win::Handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

}  // namespace testing_support
