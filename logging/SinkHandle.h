#pragma once
// The file handle that a section keeps open between lines ("extremeLogging").

#include "Handle.h"

namespace LogUtils {

class ISinkHandle {
public:
    virtual ~ISinkHandle() = default;
    virtual void SetHandle(HANDLE handle) = 0;
    virtual HANDLE GetHandle() const = 0;
    virtual bool HasHandle() const = 0;
    // Closes the handle and clears it.
    virtual void Close() = 0;
};

// Owns the kept handle; it is closed when the section goes, that is when the
// configuration is replaced or the process ends.
class SinkHandle : public ISinkHandle {
public:
    void SetHandle(HANDLE handle) override { handle_.reset(handle); }
    HANDLE GetHandle() const override { return handle_.get(); }
    bool HasHandle() const override { return static_cast<bool>(handle_); }
    void Close() override { handle_.reset(); }

private:
    win::Handle handle_;
};

}  // namespace LogUtils
