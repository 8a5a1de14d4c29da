#pragma once
// Finding the suite's running programs by image name or path and ending them:
// first a close request to the program's window, then by force. Nothing here
// writes a log; the callers do.

#include "Handle.h"
#include "PlatformInfo.h"

#include <functional>
#include <memory>
#include <string>

// Called with a process ID and its image text; returns false to stop the walk.
using ProcessVisitor = std::function<bool(DWORD processId, const std::wstring& image)>;
// Called with the module path asked for and a path of the process that holds
// it; returns 1 to allow ending that process.
using ModuleKillDecider = std::function<int(const std::wstring& modulePath, const std::wstring& imagePath)>;

// Whether a process image matches a name: a bare file name ("ZTray.exe")
// matches an image whose file name it is, a name with a folder part matches
// the whole image path; ASCII letters compare without case. An empty name,
// and a name that is only part of a file name ("Tray.exe" for
// "MyZTray.exe"), match nothing.
bool ImageMatchesName(const std::wstring& image, const std::wstring& name);

// Ends the process: WM_CLOSE to its first top-level window and up to 10 s for
// it to end by itself, else (or without a window) TerminateProcess with exit
// code 0. True if the process ended either way; false if it could not be
// opened or terminated.
bool EndProcessById(DWORD processId);

// The process walk of one platform family, and what is built on it.
class CKillProcBase {
public:
    virtual ~CKillProcBase() = default;

    // True if the platform library loaded and every entry point was found.
    virtual bool Init() = 0;
    // Ends matching processes: every one with killAll, else the first that
    // can be ended. True if at least one was ended.
    virtual bool KillProcess(const std::wstring& name, bool killAll);
    virtual bool IsProcessRunning(const std::wstring& name);
    // The ID of the first matching process, 0 if none.
    virtual DWORD GetProcessId(const std::wstring& name);
    // Visits each process whose image text could be had. True once the
    // process list was taken.
    virtual bool ForEachProcess(const ProcessVisitor& visitor) = 0;
    // Ends processes under the Windows folder's "Tarvo" folders that have the
    // module loaded, where the decider allows it. The result of the last
    // attempt (false if none was made).
    virtual bool KillProcessesUsingModule(const std::wstring& modulePath, const ModuleKillDecider& decider) = 0;
};

// Lists processes through the process-status library: the image text is the
// full path of the process's first module. Processes whose modules a 32-bit
// caller cannot read (64-bit, protected) are never visited.
class CKillProcNT : public CKillProcBase {
public:
    bool Init() override;
    bool ForEachProcess(const ProcessVisitor& visitor) override;
    bool KillProcessesUsingModule(const std::wstring& modulePath, const ModuleKillDecider& decider) override;

private:
    using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

    win::Module psapi_;
    EnumProcessesFn enumProcesses_ = nullptr;
    EnumProcessModulesFn enumProcessModules_ = nullptr;
    GetModuleFileNameExAFn getModuleFileNameExA_ = nullptr;  // required by Init, never called
};

// Lists processes through the tool-help snapshot: the image text is the
// process record's image field (the bare file name on the NT family, the full
// path on Windows without the NT kernel).
class CKillProcTH : public CKillProcBase {
public:
    bool Init() override;
    bool ForEachProcess(const ProcessVisitor& visitor) override;
    bool KillProcessesUsingModule(const std::wstring& modulePath, const ModuleKillDecider& decider) override;

private:
    using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
    using ModuleWalkFn = BOOL(WINAPI*)(HANDLE, MODULEENTRY32W*);
    using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);

    win::Module kernel_;
    ProcessWalkFn process32First_ = nullptr;
    ProcessWalkFn process32Next_ = nullptr;
    ModuleWalkFn module32First_ = nullptr;
    ModuleWalkFn module32Next_ = nullptr;
    SnapshotFn createSnapshot_ = nullptr;
};

// Picks the implementation for this Windows once and keeps it.
class CKillProcHolder {
public:
    // True if an implementation exists or was made and initialised now. A
    // failed initialisation is discarded, so the next call starts afresh.
    bool GetKiller();
    // The implementation made by GetKiller, or null.
    CKillProcBase* Killer() const { return killer_.get(); }

private:
    winVersion version_;
    std::unique_ptr<CKillProcBase> killer_;
};
