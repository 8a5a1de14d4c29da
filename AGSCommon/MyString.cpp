#include "MyString.h"

#include "Log.h"

#include <cstdint>
#include <cwchar>
#include <utility>

CMyString::CMyString(CMyString&& other) noexcept
    : text_(std::exchange(other.text_, nullptr)), capacity_(std::exchange(other.capacity_, 0))
{
}

CMyString& CMyString::operator=(const CMyString& other)
{
    if (this != &other) Assign(other.text_);
    return *this;
}

CMyString& CMyString::operator=(CMyString&& other) noexcept
{
    if (this != &other) {
        Free();
        text_ = std::exchange(other.text_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

wchar_t* CMyString::Allocate(size_t chars)
{
    Free();
    if (chars == 0) chars = 1;
    void* block = nullptr;
    if (chars <= SIZE_MAX / sizeof(wchar_t)) block = LocalAlloc(LMEM_FIXED, chars * sizeof(wchar_t));
    else SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    if (block == nullptr) {
        AGS_LOG(LogUtils::Error, L"MemAllocPtr failed with %d error", static_cast<int>(GetLastError()));
        return nullptr;
    }
    text_ = static_cast<wchar_t*>(block);
    text_[0] = L'\0';
    capacity_ = chars;
    return text_;
}

bool CMyString::Assign(const wchar_t* text, size_t count)
{
    if (text == nullptr) {
        Free();
        return true;
    }
    // The source may be this value's own buffer.
    CMyString copy;
    wchar_t* buffer = copy.Allocate(count + 1);
    if (buffer == nullptr) {
        Free();
        return false;
    }
    wmemcpy(buffer, text, count);
    buffer[count] = L'\0';
    *this = std::move(copy);
    return true;
}

bool CMyString::Assign(const wchar_t* text)
{
    return Assign(text, text ? wcslen(text) : 0);
}

bool CMyString::Assign(const char* text)
{
    if (text == nullptr) {
        Free();
        return true;
    }
    int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) units = 1;
    wchar_t* buffer = Allocate(static_cast<size_t>(units));
    if (buffer == nullptr) return false;
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, buffer, units) <= 0) buffer[0] = L'\0';
    return true;
}

size_t CMyString::Length() const
{
    return text_ ? wcslen(text_) : 0;
}

void CMyString::Free()
{
    if (text_ != nullptr) LocalFree(text_);
    text_ = nullptr;
    capacity_ = 0;
}
