#pragma once
// The asynchronous writer: file lines of asynchronous events go on one
// process-wide queue, and one thread writes them in batches, each log file
// once per batch.

#include "Handle.h"
#include "LogSinks.h"
#include "LogTypes.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace LogUtils {

// One queued line and what its file sink knew of the file.
struct QueueRecord {
    Encoding encoding;
    std::wstring path;
    std::string text;  // the line with its "\r\n", UTF-8 or ANSI bytes
    unsigned truncatePercent;
    DWORD limit;       // kNoSizeLimit for none
    QueueRecord* next = nullptr;  // the next record of the queue or of the spare records
};

class AsyncWriter {
public:
    // No thread and no events yet: they come with the first queued line.
    AsyncWriter() = default;
    // Shuts down, then frees what the thread has left if it has ended.
    ~AsyncWriter();
    AsyncWriter(const AsyncWriter&) = delete;
    AsyncWriter& operator=(const AsyncWriter&) = delete;

    // A record to fill and queue: one that an earlier line has left, with its
    // storage, so that a line in steady state allocates nothing.
    std::unique_ptr<QueueRecord> NewRecord();
    // Queues the record (starting the thread on first use). False, with the
    // record dropped, once shut-down has begun or the thread cannot start:
    // the caller then writes the line itself.
    bool Enqueue(std::unique_ptr<QueueRecord> record);
    // Refuses later lines, writes what is queued on this thread, then asks
    // the thread to end and waits for it about 400 ms. Once is enough.
    void Shutdown();
    // Writes everything queued so far, each path once, in ascending path order.
    void FlushQueue();
    // Asks the thread to end and waits for it up to 4 x 100 ms.
    void StopLoggerThread();

private:
    // Per path: the last record of the batch, which says how to write, and
    // the batch text of all its records.
    struct Batch {
        std::unique_ptr<QueueRecord> current;
        std::string text;
    };
    using Batches = std::map<std::wstring, Batch, std::less<>>;

    static unsigned __stdcall ThreadMain(void* self);
    bool StartThread();
    void Run();
    std::unique_ptr<QueueRecord> Pop();
    void FlushQueue(Batches& batches);
    void WriteBatch(const QueueRecord& record, const std::string& text);
    // Keeps a written record for a later line, up to a bound.
    void Recycle(std::unique_ptr<QueueRecord> record);
    static void FreeList(QueueRecord* first);

    CLogSecurityAttributes security_;
    QueueRecord* head_ = nullptr;  // the queue, oldest first
    QueueRecord* tail_ = nullptr;
    size_t count_ = 0;
    QueueRecord* spare_ = nullptr;  // written records kept for later lines
    size_t spareCount_ = 0;
    // The logger thread's batches, kept with their storage from batch to batch
    // (the exiting thread's last batch uses its own).
    std::unique_ptr<Batches> threadBatches_{new Batches};
    win::CriticalSection startLock_;
    win::CriticalSection queueLock_;
    win::CriticalSection spareLock_;
    win::Handle m_hStartedAsyncLoggerThread;
    win::Handle m_hExitAsyncLoggerThread;
    win::Handle m_hExitedAsyncLoggerThread;
    win::Handle m_hQueuedAsyncLoggerEvent;
    win::Handle thread_;
    volatile bool stopping_ = false;
    volatile bool started_ = false;
};

// The process-wide writer, made on first use and shut down at process exit.
// It is never destroyed: a thread that logs while the process exits, or the
// logger thread that has not ended yet, still finds its locks and events.
AsyncWriter& TheAsyncWriter();

}  // namespace LogUtils
