#pragma once
// The system's pending rename list as the deletion tests read it: the paths
// registered for deletion at the next restart, in registration order.

#include "Handle.h"
#include "Registry.h"

#include <string>
#include <vector>

namespace testing_support {

inline constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// The raw REG_MULTI_SZ, empty when the value is absent.
inline std::wstring PendingRaw(bool* present = nullptr)
{
    win::Key key;
    win::OpenKey(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE, win::RegView::Native, key);
    DWORD bytes = 0;
    const bool there = RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
    if (present) *present = there;
    std::wstring data(bytes / sizeof(wchar_t), L'\0');
    if (there) RegQueryValueExW(key.get(), kPendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes);
    return data;
}

// The sources of the deletions (pairs with an empty target), without "\??\".
inline std::vector<std::wstring> PendingDeletions()
{
    const std::wstring data = PendingRaw();
    std::vector<std::wstring> items;
    for (size_t pos = 0; pos < data.size() && data[pos] != L'\0';) {
        const std::wstring source = data.c_str() + pos;
        pos += source.size() + 1;
        const std::wstring target = pos < data.size() ? data.c_str() + pos : L"";
        pos += target.size() + 1;
        if (target.empty()) items.push_back(source.rfind(L"\\??\\", 0) == 0 ? source.substr(4) : source);
    }
    return items;
}

// Restores the list as it was at scope end.
class PendingListKept {
public:
    PendingListKept() : saved_(PendingRaw(&had_)) {}
    ~PendingListKept()
    {
        win::Key key;
        win::OpenKey(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_SET_VALUE, win::RegView::Native, key);
        if (!had_) RegDeleteValueW(key.get(), kPendingValue);
        else RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_.data()),
                            static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
    }
    PendingListKept(const PendingListKept&) = delete;
    PendingListKept& operator=(const PendingListKept&) = delete;

private:
    bool had_ = false;
    std::wstring saved_;
};

}  // namespace testing_support
