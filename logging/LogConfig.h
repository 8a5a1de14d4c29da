#pragma once
// Where the logging configuration lives, how logcfg.ini is read, checked and
// compiled into per-section property sets, and the library's own trace.

#include "LogFilter.h"
#include "LogProperties.h"
#include "LogSinks.h"
#include "LogTypes.h"
#include "SinkHandle.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace LogUtils {

// The library's diagnostic trace: "MyLogger <thread id>: " and the text, to the
// debugger output, only when HKLM "SOFTWARE\Zelmar\Endpoint\Common\Log"
// "dwIsDebugOutputEnabled" (64-bit view) is REG_DWORD 1. That switch is read
// once per process. Keeps the last-error value.
void DebugTrace(const wchar_t* format, ...);
bool DiagnosticsEnabled();

// Process-wide settings, computed once on first use.
struct LogSettings {
    std::wstring configFolder;  // <common app data>\Zelmar\Endpoint Guard\Logcfg (not created)
    std::wstring configFile;    // configFolder + "\logcfg.ini"
    std::wstring defaultLogDir; // the global property "logdir"
    bool asynchronous = false;  // "LOGCFG" "loggingmode" == 1
};
const LogSettings& Settings();
// Settings().asynchronous, false when the settings cannot be computed.
bool AsynchronousSwitch() noexcept;

// The folder named by %DEFLOGDIR%, created; when the variable is undefined or
// cannot be expanded, <common app data>\Zelmar\Endpoint Guard\Logs, created.
std::wstring ComputeDefaultLogDirectory();
// The "loggingmode" switch of section "LOGCFG" in the given file.
bool ReadAsynchronousSwitch(const std::wstring& configFile);

class ICompiledLogProperties {
public:
    virtual ~ICompiledLogProperties() = default;
    virtual const wchar_t* Lookup(const wchar_t* key) const = 0;
    virtual const CompiledFilter& GetFilter() const = 0;
    virtual SinkHandle& GetSinkHandle() = 0;
    virtual Encoding GetEncoding() const = 0;
    virtual SinkType GetSinkType() const = 0;
    virtual bool GetOverrideLocalization() const = 0;
    // The compiled target of a File section; null for other sections and
    // for a File section without one.
    virtual const FileTarget* GetFileTarget() const = 0;
};

// One enabled section of logcfg.ini. Not copyable: it owns its kept file handle.
class CompiledLogProperties : public ICompiledLogProperties, public PropertyLookup {
public:
    CompiledLogProperties() = default;
    CompiledLogProperties(const CompiledLogProperties&) = delete;
    CompiledLogProperties& operator=(const CompiledLogProperties&) = delete;

    const wchar_t* Lookup(const wchar_t* key) const override;
    const CompiledFilter& GetFilter() const override { return filter_; }
    SinkHandle& GetSinkHandle() override { return sinkHandle_; }
    Encoding GetEncoding() const override { return encoding_; }
    SinkType GetSinkType() const override { return sinkType_; }
    bool GetOverrideLocalization() const override { return overrideLocalization_; }
    const FileTarget* GetFileTarget() const override { return fileTarget_ ? &*fileTarget_ : nullptr; }

    void Set(const std::wstring& key, const std::wstring& value) { keys_[key] = value; }
    // Compiles "filter", "encoding", "type" and "overrideLocalization".
    void Compile();
    // Compiles what the section's sink needs, with the global properties.
    void CompileSink(const PropertyLookup& globals);

private:
    PropertyMap keys_;
    CompiledFilter filter_;
    SinkHandle sinkHandle_;
    Encoding encoding_ = EncodingAnsi;
    SinkType sinkType_ = SinkFile;
    bool overrideLocalization_ = false;
    std::optional<FileTarget> fileTarget_;
};

// A forwarding look-up over one section, for the sink keys.
class LogConfigurationSection : public PropertyLookup {
public:
    explicit LogConfigurationSection(const ICompiledLogProperties& section) : section_(section) {}
    const wchar_t* Lookup(const wchar_t* key) const override { return section_.Lookup(key); }

private:
    const ICompiledLogProperties& section_;
};

}  // namespace LogUtils

template <typename T>
class IEnumerable {
public:
    class ActionType {
    public:
        virtual ~ActionType() = default;
        // True ends the walk.
        virtual bool Invoke(T& item) = 0;
    };
    virtual ~IEnumerable() = default;
    // Returns whether an action ended the walk early.
    virtual bool ForEach(ActionType& action) = 0;
};

namespace LogUtils {

class ILogConfigValidator {
public:
    virtual ~ILogConfigValidator() = default;
    virtual bool Validate(const ICompiledLogProperties& section) const = 0;
};

// Accepts a section that has "type", "filter", "format" and "encoding".
class LogConfigValidator : public ILogConfigValidator {
public:
    bool Validate(const ICompiledLogProperties& section) const override;
};

class ILogConfigFilter {
public:
    virtual ~ILogConfigFilter() = default;
    virtual bool Accept(const ICompiledLogProperties& section) const = 0;
};

// Accepts a section whose key equals the expected value without regard to case.
class LogConfigFilter : public ILogConfigFilter {
public:
    LogConfigFilter(std::wstring key, std::wstring expected, wchar_t op)
        : key_(std::move(key)), expected_(std::move(expected)), op_(op) {}
    bool Accept(const ICompiledLogProperties& section) const override;

private:
    std::wstring key_;
    std::wstring expected_;
    wchar_t op_;
};

// The compiled sections by number in file order.
class PropertyLogConfiguration : public IEnumerable<ICompiledLogProperties> {
public:
    bool ForEach(ActionType& action) override;
    size_t size() const { return sections_.size(); }
    // The section of that number, or null.
    CompiledLogProperties* Find(int number);

protected:
    std::map<int, CompiledLogProperties> sections_;
};

// logcfg.ini read through the platform's profile functions. Never fails: an
// unreadable file gives an empty configuration. An enabled section that lacks
// a required key, and a section that ends reading, are traced.
class IniLogConfiguration : public PropertyLogConfiguration {
public:
    IniLogConfiguration(std::wstring path, const ILogConfigValidator& validator, const ILogConfigFilter& filter);
    // Compiles every section's sink with the global properties of this load.
    void CompileSinks(const PropertyLookup& globals);

private:
    void Read();

    std::wstring path_;
    std::map<int, std::wstring> names_;  // section names by number, for the trace
};

}  // namespace LogUtils
