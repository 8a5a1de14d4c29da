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

namespace {
// Sizes out with a first call of convert and converts with a second.
template <typename Text, typename Convert>
void ConvertWith(Text& out, size_t length, Convert convert)
{
    out.clear();
    if (length == 0) return;
    int n = convert(nullptr, 0);
    if (n <= 0) return;
    try {
        out.resize(static_cast<size_t>(n));
    } catch (...) {
        out.clear();
        return;
    }
    convert(out.data(), n);
}

// ASCII text, which most lines are, is the same in UTF-8 and UTF-16: copied
// unit by unit, without the platform's two conversion calls.
template <typename Out, typename In>
bool CopiedAsAscii(Out& out, const In* text, size_t length, unsigned codePage)
{
    if (codePage != CP_UTF8) return false;
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned>(text[i]) >= 0x80) return false;
    }
    try {
        out.resize(length);
    } catch (...) {
        out.clear();
        return true;
    }
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<typename Out::value_type>(text[i]);
    return true;
}
}  // namespace

void ConvertTo(std::string& out, const wchar_t* text, size_t length, unsigned codePage)
{
    if (CopiedAsAscii(out, text, length, codePage)) return;
    ConvertWith(out, length, [&](char* to, int size) {
        return WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), to, size, nullptr, nullptr);
    });
}

void ConvertFrom(std::wstring& out, const char* text, size_t length, unsigned codePage)
{
    if (CopiedAsAscii(out, text, length, codePage)) return;
    ConvertWith(out, length, [&](wchar_t* to, int size) {
        return MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), to, size);
    });
}

}  // namespace LogUtils
