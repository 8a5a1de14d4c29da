#include "LogAsync.h"

#include "LogConfig.h"

#include <process.h>

#include <ctime>
#include <map>

namespace LogUtils {

namespace {
constexpr DWORD kWakeUpsPerBatch = 100;
constexpr __time64_t kBatchSeconds = 10;
}  // namespace

AsyncWriter& TheAsyncWriter()
{
    static AsyncWriter writer;
    return writer;
}

AsyncWriter::~AsyncWriter()
{
    stopping_ = true;
    FlushQueue();
    if (started_) StopLoggerThread();
}

bool AsyncWriter::Enqueue(std::unique_ptr<QueueRecord> record)
{
    if (!started_) {
        win::Lock lock(startLock_);
        if (!started_ && (stopping_ || !StartThread())) return false;
    }
    {
        win::Lock lock(queueLock_);
        queue_.push_back(std::move(record));
    }
    SetEvent(m_hQueuedAsyncLoggerEvent.get());
    return true;
}

// Under the start lock; returns once the thread runs.
bool AsyncWriter::StartThread()
{
    m_hStartedAsyncLoggerThread.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_hExitAsyncLoggerThread.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_hExitedAsyncLoggerThread.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_hQueuedAsyncLoggerEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hStartedAsyncLoggerThread || !m_hExitAsyncLoggerThread || !m_hExitedAsyncLoggerThread ||
        !m_hQueuedAsyncLoggerEvent)
        return false;
    thread_.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &AsyncWriter::ThreadMain, this, 0, nullptr)));
    if (!thread_) return false;
    WaitForSingleObject(m_hStartedAsyncLoggerThread.get(), INFINITE);
    started_ = true;  // the thread sets it too, perhaps only after the event
    return true;
}

unsigned __stdcall AsyncWriter::ThreadMain(void* self)
{
    static_cast<AsyncWriter*>(self)->Run();
    return 0;
}

void AsyncWriter::Run()
{
    SetEvent(m_hStartedAsyncLoggerThread.get());
    started_ = true;
    DebugTrace(L"Signaled the m_hStartedAsyncLoggerThread event");
    DWORD wakeUps = 0;
    DWORD timeout = INFINITE;
    __time64_t lastBatch = 0;  // so that the first line after start goes at once
    HANDLE handles[2] = {m_hExitAsyncLoggerThread.get(), m_hQueuedAsyncLoggerEvent.get()};
    while (started_) {
        DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (result == WAIT_OBJECT_0) {
            started_ = false;
            break;
        }
        if (result != WAIT_OBJECT_0 + 1 && result != WAIT_TIMEOUT) continue;
        if (result == WAIT_OBJECT_0 + 1) ++wakeUps;
        __time64_t now = _time64(nullptr);
        if (wakeUps % kWakeUpsPerBatch != 0 && now - lastBatch < kBatchSeconds) {
            // Gather until 10 seconds have passed since the last batch.
            timeout = static_cast<DWORD>(1000 * (kBatchSeconds - (now - lastBatch)));
            continue;
        }
        FlushQueue();
        wakeUps = 0;
        timeout = INFINITE;
        lastBatch = now;
    }
    DebugTrace(L"Signaling the m_hExitedAsyncLoggerThread event");
    SetEvent(m_hExitedAsyncLoggerThread.get());
}

std::unique_ptr<QueueRecord> AsyncWriter::Pop()
{
    win::Lock lock(queueLock_);
    if (queue_.empty()) return nullptr;
    std::unique_ptr<QueueRecord> record = std::move(queue_.front());
    queue_.pop_front();
    return record;
}

void AsyncWriter::FlushQueue()
{
    DebugTrace(L"Processing all the logs in the queue");
    // Per path: its last record, which carries the batch text of all.
    struct Batch {
        std::unique_ptr<QueueRecord> current;
        std::string text;
    };
    std::map<std::wstring, Batch> batches;
    try {
        while (std::unique_ptr<QueueRecord> record = Pop()) {
            Batch& batch = batches[record->path];
            batch.text += record->text;
            batch.current = std::move(record);
        }
    } catch (...) {
        // Out of memory: what was gathered is still written.
    }
    for (auto& [path, batch] : batches) {
        batch.current->text = std::move(batch.text);
        WriteBatchRecord(*batch.current);
    }
}

void AsyncWriter::WriteBatchRecord(const QueueRecord& record)
{
    win::Handle file = OpenLogFile(record.path, security_.get());
    if (!file) {
        DebugTrace(L"Failed to open %s file [%d]!!!", record.path.c_str(), static_cast<int>(GetLastError()));
        return;
    }
    AppendLine(file.get(), record.encoding, record.text, record.limit, record.truncatePercent);
}

void AsyncWriter::StopLoggerThread()
{
    if (m_hExitAsyncLoggerThread) {
        DebugTrace(L"Signaling the m_hExitAsyncLoggerThread event");
        SetEvent(m_hExitAsyncLoggerThread.get());
    }
    DebugTrace(L"Entering a wait for m_hExitedAsyncLoggerThread event");
    for (int i = 0; i < 4; ++i) {
        Sleep(100);
        if (WaitForSingleObject(m_hExitedAsyncLoggerThread.get(), 0) == WAIT_OBJECT_0) break;
    }
}

}  // namespace LogUtils
