#include "LogManager.h"

#include "TraceProvider.h"

#include <system_error>

namespace LogUtils {

const ILogFormatter& LogManagerImpl::GetFormatter() const
{
    static const LogFormatter formatter;
    return formatter;
}

bool LogManagerImpl::ConfigurationAction::Invoke(IEnumerable<ICompiledLogProperties>& configuration)
{
    ConfigurationSectionAction action(manager_, event_, globals_);
    return configuration.ForEach(action);
}

bool LogManagerImpl::ConfigurationSectionAction::Invoke(ICompiledLogProperties& section)
{
    if (!manager_.GetFilterEvaluator().Evaluate(section.GetFilter(), event_, globals_)) return false;
    event_.FormatMessages();
    const wchar_t* format = LogConfigurationSection(section).Lookup(L"format");
    Streamer streamer(format, manager_.GetFormatter(), event_, section.GetEncoding(),
                      section.GetOverrideLocalization());
    switch (section.GetSinkType()) {
    case SinkFile:
        if (auto sink = LogFileSink::FromSection(section)) sink->Write(streamer);
        break;
    case SinkOutputDebugString: DebugStringSink(section.GetEncoding()).Write(streamer); break;
    case SinkSyslog: {
        sockaddr_in destination;
        if (SyslogDestination(LogConfigurationSection(section), destination))
            SyslogSink(destination, event_).Write(streamer);
        break;
    }
    case SinkEtw: EtwSink(TheTraceProvider()).Write(streamer); break;
    }
    return false;
}

DefaultLogManager::DefaultLogManager(std::wstring configFolder, std::wstring configFile, std::wstring defaultLogDir)
    : configFile_(std::move(configFile)), defaultLogDir_(std::move(defaultLogDir))
{
    // Starts signalled so that the first event loads the configuration.
    loadEvent_.reset(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    if (!loadEvent_) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    notification_.reset(FindFirstChangeNotificationW(configFolder.c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE));
    if (!notification_)
        DebugTrace(L"FindFirstChangeNotification failed!!! [GetLastError = %u]\n",
                   static_cast<unsigned>(GetLastError()));
    DebugTrace(L"DefaultLogManager created!!!\n");
}

DefaultLogManager::~DefaultLogManager()
{
    notification_.reset();
    DebugTrace(L"DefaultLogManager terminating\n");
}

void DefaultLogManager::Log(LogEvent& event)
{
    CheckReload();
    auto [globals, configuration] = AcquireConfiguration();
    if (!globals || !configuration) return;
    LogPropertiesOnMapImpl globalLookup(*globals);
    ConfigurationAction action(*this, event, globalLookup);
    // As ForConfiguration does, on the pair already held.
    action.Invoke(*configuration);
}

void DefaultLogManager::ForConfiguration(ConfigurationActionType& action)
{
    auto [globals, configuration] = AcquireConfiguration();
    if (configuration) action.Invoke(*configuration);
}

std::pair<DefaultLogManager::Globals, DefaultLogManager::Configuration> DefaultLogManager::AcquireConfiguration()
{
    win::Lock lock(lock_);
    if (!globals_) return {};
    return {globals_, configuration_};
}

bool DefaultLogManager::ReadLastWriteTime(FILETIME& time) const
{
    win::Handle file(
        CreateFileW(configFile_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file && GetFileTime(file.get(), nullptr, nullptr, &time);
}

void DefaultLogManager::CheckReload()
{
    HANDLE handles[2] = {notification_.get(), loadEvent_.get()};
    DWORD result = notification_ ? WaitForMultipleObjects(2, handles, FALSE, 0)
                                 : WaitForSingleObject(loadEvent_.get(), 0);
    if (notification_ && result == WAIT_OBJECT_0 + 1) {
        Reload();
        return;
    }
    if (result == WAIT_TIMEOUT) return;
    if (result == WAIT_FAILED) DebugTrace(L"Wait failed for file change notification!!!\n");
    if (notification_ && !FindNextChangeNotification(notification_.get()))
        DebugTrace(L"FindNextChangeNotification failed!!! [GetLastError = %u\n", static_cast<unsigned>(GetLastError()));
    FILETIME now{};
    if (!ReadLastWriteTime(now)) return;
    bool changed;
    {
        win::Lock lock(lock_);
        changed = CompareFileTime(&now, &lastWrite_) != 0;
    }
    if (changed) Reload();
}

void DefaultLogManager::Reload()
{
    // The time first: an edit that lands while the content is read then
    // differs from the remembered time, and the next event reloads again.
    FILETIME time{};
    bool timeKnown = ReadLastWriteTime(time);
    // Built outside the lock: readers keep walking the old configuration.
    auto configuration = std::make_shared<IniLogConfiguration>(configFile_, LogConfigValidator(),
                                                               LogConfigFilter(L"enabled", L"1", L'='));
    auto globals = std::make_shared<const PropertyMap>(PropertyMap{{L"logdir", defaultLogDir_}});
    configuration->CompileSinks(LogPropertiesOnMapImpl(*globals));
    win::Lock lock(lock_);
    configuration_.swap(configuration);
    globals_.swap(globals);
    if (timeKnown) lastWrite_ = time;
}

ILogManager* getLogManager() noexcept
{
    // The first call starts the library; the caller may be about to log its last error.
    win::LastErrorKeeper keep;
    static ILogManager* const manager = []() noexcept -> ILogManager* {
        try {
            const LogSettings& settings = Settings();
            static DefaultLogManager instance(settings.configFolder, settings.configFile, settings.defaultLogDir);
            return &instance;
        } catch (...) {
            return nullptr;
        }
    }();
    return manager;
}

}  // namespace LogUtils
