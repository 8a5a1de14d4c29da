#include "DebugOutput.h"

namespace testing_support {

namespace {
// The buffer: the writer's process identifier, then its narrow text.
constexpr DWORD kBufferSize = 4096;
constexpr const char* kMarker = "DebugOutputListener: all taken";
}  // namespace

DebugOutputListener::DebugOutputListener()
{
    InitializeCriticalSection(&lock_);
    bufferReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    dataReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
    if (mapping_) view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
    if (bufferReady_ && dataReady_ && stop_ && view_)
        thread_.reset(CreateThread(nullptr, 0, &DebugOutputListener::Listen, this, 0, nullptr));
}

DebugOutputListener::~DebugOutputListener()
{
    if (thread_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
    DeleteCriticalSection(&lock_);
}

std::vector<std::string> DebugOutputListener::Texts()
{
    OutputDebugStringA(kMarker);
    OutputDebugStringA(kMarker);  // the first marker has been taken when this one returns
    std::vector<std::string> copy;
    EnterCriticalSection(&lock_);
    for (auto& text : texts_)
        if (text != kMarker) copy.push_back(text);
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI DebugOutputListener::Listen(void* param)
{
    auto* self = static_cast<DebugOutputListener*>(param);
    HANDLE waits[] = {self->dataReady_.get(), self->stop_.get()};
    const char* buffer = static_cast<const char*>(self->view_.get());
    for (;;) {
        SetEvent(self->bufferReady_.get());
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;
        std::string text(buffer + sizeof(DWORD), strnlen(buffer + sizeof(DWORD), kBufferSize - sizeof(DWORD)));
        EnterCriticalSection(&self->lock_);
        self->texts_.push_back(text);
        LeaveCriticalSection(&self->lock_);
    }
}

}  // namespace testing_support
