#include "DbWinListener.h"

namespace testing_support {

namespace {
constexpr DWORD kBufferSize = 4096;
constexpr const char* kMarker = "DbWinListener: all taken";
}

DbWinListener::DbWinListener()
{
    bufferReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    dataReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
    if (!bufferReady_ || !dataReady_ || !mapping_) return;
    view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!view_ || !stop_) return;
    thread_.reset(CreateThread(nullptr, 0, &DbWinListener::Run, this, 0, nullptr));
}

DbWinListener::~DbWinListener()
{
    if (thread_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
    }
}

DWORD WINAPI DbWinListener::Run(void* self)
{
    auto* listener = static_cast<DbWinListener*>(self);
    HANDLE waits[2] = {listener->stop_.get(), listener->dataReady_.get()};
    SetEvent(listener->bufferReady_.get());
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        const char* data = static_cast<const char*>(listener->view_.get());
        Message message;
        memcpy(&message.processId, data, sizeof(DWORD));
        message.text.assign(data + sizeof(DWORD), strnlen(data + sizeof(DWORD), kBufferSize - sizeof(DWORD)));
        {
            win::Lock lock(listener->lock_);
            listener->messages_.push_back(std::move(message));
        }
        SetEvent(listener->bufferReady_.get());
    }
    return 0;
}

std::vector<std::string> DbWinListener::Messages(DWORD processId)
{
    win::Lock lock(lock_);
    std::vector<std::string> texts;
    for (const Message& m : messages_) {
        if (processId == 0 || m.processId == processId) texts.push_back(m.text);
    }
    return texts;
}

std::vector<std::string> DbWinListener::Texts()
{
    OutputDebugStringA(kMarker);
    OutputDebugStringA(kMarker);  // the first marker has been taken when this one returns
    std::vector<std::string> texts = Messages();
    std::erase(texts, std::string(kMarker));
    return texts;
}

bool DbWinListener::WaitFor(const std::string& text, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        for (const std::string& m : Messages()) {
            if (m.find(text) != std::string::npos) return true;
        }
        if (waited >= timeoutMs) return false;
        Sleep(20);
    }
}

}  // namespace testing_support
