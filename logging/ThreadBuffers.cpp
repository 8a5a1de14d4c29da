#include "ThreadBuffers.h"

#include <windows.h>

#include <new>

namespace LogUtils {

namespace {
// Frees the thread's buffers when the thread ends. A use after that (from a
// destructor at thread exit) makes them again.
struct BuffersOwner {
    ThreadBuffers* buffers = nullptr;
    ~BuffersOwner()
    {
        delete buffers;
        buffers = nullptr;
    }
};
thread_local BuffersOwner t_owner;
}  // namespace

ThreadBuffers* CurrentThreadBuffers() noexcept
{
    if (!t_owner.buffers) t_owner.buffers = new (std::nothrow) ThreadBuffers;
    return t_owner.buffers;
}

void ConvertTo(std::string& out, const wchar_t* text, size_t length, unsigned codePage)
{
    out.clear();
    if (length == 0) return;
    const int units = static_cast<int>(length);
    int n = WideCharToMultiByte(codePage, 0, text, units, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    try {
        out.resize(static_cast<size_t>(n));
    } catch (...) {
        out.clear();
        return;
    }
    WideCharToMultiByte(codePage, 0, text, units, out.data(), n, nullptr, nullptr);
}

void ConvertFrom(std::wstring& out, const char* text, size_t length, unsigned codePage)
{
    out.clear();
    if (length == 0) return;
    const int bytes = static_cast<int>(length);
    int n = MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0);
    if (n <= 0) return;
    try {
        out.resize(static_cast<size_t>(n));
    } catch (...) {
        out.clear();
        return;
    }
    MultiByteToWideChar(codePage, 0, text, bytes, out.data(), n);
}

}  // namespace LogUtils
