#include "LogAsync.h"

#include "LogConfig.h"

#include <process.h>

#include <ctime>
#include <utility>

namespace LogUtils {

namespace {
constexpr DWORD kWakeUpsPerBatch = 100;
constexpr __time64_t kBatchSeconds = 10;
// Written records kept for later lines: enough for the lines of a busy batch,
// and none whose line was long, so that what is kept stays small.
constexpr size_t kMaxSpareRecords = 1024;
constexpr size_t kMaxSpareText = 1024;
constexpr size_t kMaxKeptBatchText = 1 << 20;
}  // namespace

AsyncWriter& TheAsyncWriter()
{
    static AsyncWriter* const writer = new AsyncWriter;
    static const struct ShutdownAtExit {
        ~ShutdownAtExit() { writer->Shutdown(); }
    } atExit;
    return *writer;
}

void AsyncWriter::Shutdown()
{
    {
        // Under both locks: no thread is then starting the logger or queueing a line.
        win::Lock start(startLock_);
        win::Lock queue(queueLock_);
        if (stopping_) return;
        stopping_ = true;
    }
    FlushQueue();
    if (started_) StopLoggerThread();
}

AsyncWriter::~AsyncWriter()
{
    Shutdown();
    // A thread that has not ended may still use its batches and records: they
    // are left to the process's end.
    if (thread_ && WaitForSingleObject(m_hExitedAsyncLoggerThread.get(), 0) != WAIT_OBJECT_0) {
        (void)threadBatches_.release();
        return;
    }
    FreeList(head_);
    FreeList(spare_);
}

void AsyncWriter::FreeList(QueueRecord* first)
{
    while (first) delete std::exchange(first, first->next);
}

std::unique_ptr<QueueRecord> AsyncWriter::NewRecord()
{
    {
        win::Lock lock(spareLock_);
        if (QueueRecord* record = spare_) {
            spare_ = record->next;
            --spareCount_;
            record->next = nullptr;
            return std::unique_ptr<QueueRecord>(record);
        }
    }
    return std::unique_ptr<QueueRecord>(new QueueRecord{});
}

void AsyncWriter::Recycle(std::unique_ptr<QueueRecord> record)
{
    if (record->text.capacity() > kMaxSpareText) return;
    win::Lock lock(spareLock_);
    if (spareCount_ >= kMaxSpareRecords) return;
    record->next = spare_;
    spare_ = record.release();
    ++spareCount_;
}

bool AsyncWriter::Enqueue(std::unique_ptr<QueueRecord> record)
{
    if (!started_) {
        win::Lock lock(startLock_);
        if (!started_ && (stopping_ || !StartThread())) return false;
    }
    {
        win::Lock lock(queueLock_);
        // After shut-down nothing would write a queued line.
        if (stopping_) return false;
        QueueRecord* last = record.release();
        last->next = nullptr;
        (tail_ ? tail_->next : head_) = last;
        tail_ = last;
        ++count_;
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
        FlushQueue(*threadBatches_);
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
    QueueRecord* first = head_;
    if (!first) return nullptr;
    head_ = first->next;
    if (!head_) tail_ = nullptr;
    --count_;
    first->next = nullptr;
    return std::unique_ptr<QueueRecord>(first);
}

void AsyncWriter::FlushQueue()
{
    Batches batches;
    FlushQueue(batches);
}

void AsyncWriter::FlushQueue(Batches& batches)
{
    DebugTrace(L"Processing all the logs in the queue");
    // The synchronous writers' lock, for the whole flush: a file this process
    // writes at once is never open twice, and the logger thread's batch and
    // the exiting thread's last one keep their order.
    win::Lock lock(FileWriteLock());
    try {
        while (std::unique_ptr<QueueRecord> record = Pop()) {
            auto it = batches.find(record->path);
            if (it == batches.end()) it = batches.emplace(record->path, Batch{}).first;
            Batch& batch = it->second;
            batch.text += record->text;
            if (batch.current) Recycle(std::move(batch.current));
            batch.current = std::move(record);
        }
    } catch (...) {
        // Out of memory: what was gathered is still written.
    }
    for (auto& [path, batch] : batches) {
        if (!batch.current) continue;  // a path of an earlier batch
        WriteBatch(*batch.current, batch.text);
        Recycle(std::move(batch.current));
        batch.text.clear();
        if (batch.text.capacity() > kMaxKeptBatchText) std::string().swap(batch.text);
    }
}

void AsyncWriter::WriteBatch(const QueueRecord& record, const std::string& text)
{
    win::Handle file = OpenLogFile(record.path, security_.get());
    if (!file) {
        DebugTrace(L"Failed to open %s file [%d]!!!", record.path.c_str(), static_cast<int>(GetLastError()));
        return;
    }
    AppendLine(file.get(), record.encoding, text, record.limit, record.truncatePercent);
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
