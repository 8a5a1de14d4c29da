#pragma once
// The asynchronous writer: file lines of asynchronous events go on one
// process-wide queue, and one thread writes them in batches, each log file
// once per batch.

#include "Handle.h"
#include "LogSinks.h"
#include "LogTypes.h"

#include <deque>
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
};

class AsyncWriter {
public:
    // No thread and no events yet: they come with the first queued line.
    AsyncWriter() = default;
    // Shut-down: refuses later lines, writes what is queued on this thread,
    // then asks the thread to end and waits for it about 400 ms.
    ~AsyncWriter();
    AsyncWriter(const AsyncWriter&) = delete;
    AsyncWriter& operator=(const AsyncWriter&) = delete;

    // Queues the record (starting the thread on first use). False, with the
    // record dropped, once shut-down has begun or the thread cannot start.
    bool Enqueue(std::unique_ptr<QueueRecord> record);
    // Writes everything queued so far, each path once, in ascending path order.
    void FlushQueue();
    // Asks the thread to end and waits for it up to 4 x 100 ms.
    void StopLoggerThread();

private:
    static unsigned __stdcall ThreadMain(void* self);
    bool StartThread();
    void Run();
    std::unique_ptr<QueueRecord> Pop();
    void WriteBatchRecord(const QueueRecord& record);

    CLogSecurityAttributes security_;
    std::deque<std::unique_ptr<QueueRecord>> queue_;
    win::CriticalSection startLock_;
    win::CriticalSection queueLock_;
    win::Handle m_hStartedAsyncLoggerThread;
    win::Handle m_hExitAsyncLoggerThread;
    win::Handle m_hExitedAsyncLoggerThread;
    win::Handle m_hQueuedAsyncLoggerEvent;
    win::Handle thread_;
    volatile bool stopping_ = false;
    volatile bool started_ = false;
};

// The process-wide writer, made on first use and shut down at process exit.
AsyncWriter& TheAsyncWriter();

}  // namespace LogUtils
