#pragma once
// The log manager: notices a changed logcfg.ini, reloads it, and routes each
// event to every section whose filter takes it.

#include "Handle.h"
#include "LogConfig.h"
#include "LogEvent.h"
#include "LogFilter.h"
#include "LogFormatter.h"
#include "LogSinks.h"

#include <memory>
#include <string>
#include <utility>

namespace LogUtils {

using ConfigurationActionType = IEnumerable<IEnumerable<ICompiledLogProperties>>::ActionType;

class ILogManager {
public:
    virtual ~ILogManager() = default;
    virtual void Log(LogEvent& event) = 0;
    virtual const IFilterEvaluator& GetFilterEvaluator() const = 0;
    virtual const ILogFormatter& GetFormatter() const = 0;
    // Applies action to the current configuration (nothing before the first load).
    virtual void ForConfiguration(ConfigurationActionType& action) = 0;
};

class LogManagerImpl : public ILogManager {
public:
    const IFilterEvaluator& GetFilterEvaluator() const override { return evaluator_; }
    const ILogFormatter& GetFormatter() const override;

protected:
    // Routes the event to every section of the configuration.
    class ConfigurationAction : public ConfigurationActionType {
    public:
        ConfigurationAction(LogManagerImpl& manager, LogEvent& event, const PropertyLookup& globals)
            : manager_(manager), event_(event), globals_(globals) {}
        bool Invoke(IEnumerable<ICompiledLogProperties>& configuration) override;

    private:
        LogManagerImpl& manager_;
        LogEvent& event_;
        const PropertyLookup& globals_;
    };

    class ConfigurationSectionAction : public IEnumerable<ICompiledLogProperties>::ActionType {
    public:
        ConfigurationSectionAction(LogManagerImpl& manager, LogEvent& event, const PropertyLookup& globals)
            : manager_(manager), event_(event), globals_(globals) {}
        // Writes the event to the section if its filter takes it; never ends the walk.
        bool Invoke(ICompiledLogProperties& section) override;

    private:
        LogManagerImpl& manager_;
        LogEvent& event_;
        const PropertyLookup& globals_;
    };

    class Streamer : public ILogSinkStreamer {
    public:
        Streamer(const wchar_t* format, const ILogFormatter& formatter, const LogEvent& event, Encoding encoding,
                 bool overrideLocalization)
            : format_(format), formatter_(formatter), event_(event), encoding_(encoding),
              overrideLocalization_(overrideLocalization) {}
        void Stream(OStream<char>& out) const override
        {
            formatter_.Format(out, format_, event_, encoding_, overrideLocalization_);
        }
        Encoding GetEncoding() const override { return encoding_; }
        const LogEvent& GetEvent() const override { return event_; }

    private:
        const wchar_t* format_;
        const ILogFormatter& formatter_;
        const LogEvent& event_;
        Encoding encoding_;
        bool overrideLocalization_;
    };

private:
    FilterEvaluator evaluator_;
};

// The process-wide manager (getLogManager), or one made by a test
// for its own configuration folder.
class DefaultLogManager : public LogManagerImpl {
public:
    // Watches configFolder for changes of configFile. Throws std::system_error
    // when its load event cannot be made.
    DefaultLogManager(std::wstring configFolder, std::wstring configFile, std::wstring defaultLogDir);
    ~DefaultLogManager() override;
    DefaultLogManager(const DefaultLogManager&) = delete;
    DefaultLogManager& operator=(const DefaultLogManager&) = delete;

    void Log(LogEvent& event) override;
    void ForConfiguration(ConfigurationActionType& action) override;

    using Configuration = std::shared_ptr<IniLogConfiguration>;
    using Globals = std::shared_ptr<const PropertyMap>;
    // Both current values, held alive for the caller; null before the first load.
    std::pair<Globals, Configuration> AcquireConfiguration();

private:
    void CheckReload();
    void Reload();
    bool ReadLastWriteTime(FILETIME& time) const;

    std::wstring configFile_;
    std::wstring defaultLogDir_;
    win::Handle loadEvent_;
    win::ChangeNotification notification_;
    win::CriticalSection lock_;  // guards the two pointers and the remembered time
    FILETIME lastWrite_{};
    Globals globals_;
    Configuration configuration_;
};

}  // namespace LogUtils
