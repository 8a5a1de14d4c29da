#include "Readers.h"

#include "LogConfig.h"
#include "LogEvent.h"
#include "LogFormatter.h"
#include "LogManager.h"
#include "Registry.h"
#include "StringDB.h"
#include "argswitch.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace fuzz {

namespace {

constexpr DWORD kValueTypes[] = {REG_SZ,     REG_EXPAND_SZ, REG_MULTI_SZ,          REG_DWORD, REG_BINARY,
                                 REG_NONE,   REG_QWORD,     REG_DWORD_BIG_ENDIAN, REG_LINK,  0x1234};

// Units past a fixed buffer that a reader must leave alone.
constexpr size_t kGuardUnits = 16;
constexpr wchar_t kGuardUnit = 0xCCCC;

template <typename C>
bool GuardIntact(const std::vector<C>& buffer, size_t used)
{
    for (size_t i = used; i < buffer.size(); ++i)
        if (buffer[i] != static_cast<C>(kGuardUnit)) return false;
    return true;
}

const char kLogConfigSeed[] =
    "[LOGCFG]\r\nloggingmode=0\r\n"
    "[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.Info\r\nformat=%+d %+T [%l] %F %m\r\nencoding=UTF-8\r\n"
    "filename=fuzz.log\r\nmaxsize=4096\r\nlimitsize=1\r\ntruncateby=50\r\n"
    "[wide]\r\nenabled=1\r\ntype=File\r\nfilter=*.Fuzz.Error|Info\r\nformat=%l %m\r\nencoding=UNICODE\r\n"
    "filename=%DEFLOGDIR%\\wide.log\r\nextremeLogging=1\r\naffinity=fuzz_campaign\r\n"
    "[debugger]\r\nenabled=1\r\ntype=OutputDebugString\r\nfilter=*.*.Error\r\nformat=ODS %m\r\nencoding=\r\n"
    "[off]\r\nenabled=0\r\ntype=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=ANSI\r\nfilename=off.log\r\n";

Reader LogConfigReader(const std::wstring& scratch)
{
    Reader reader;
    reader.name = "logcfg";
    reader.seeds = {kLogConfigSeed, "[LOGCFG]\r\nloggingmode=1\r\n", "\xEF\xBB\xBF[a]\r\nenabled=1\r\n",
                    Utf16(L"\xFEFF[file]\r\nenabled=1\r\ntype=File\r\nfilter=*.*.*\r\nformat=%m\r\nencoding=\r\n")};
    reader.tokens = {"[", "]", "=", "\r\n", "enabled=1", "type=File", "type=syslog", "type=ETW", "filter=",
                     "*.*.*", "|", "format=", "encoding=UTF-8", "encoding=UNICODE", "filename=", "%DEFLOGDIR%",
                     "maxsize=", "truncateby=", "limitsize=0", "extremeLogging=1", ";", "\0", "%", "\xC3\xA4"};
    // The section-name buffers (2048, 4096, 6144) and the section buffer (1024).
    reader.boundaries = {1020, 1021, 1022, 1023, 1024, 2046, 2048, 4094, 4096, 6142, 6144};
    const std::wstring folder = scratch + L"\\cfg", logs = scratch + L"\\logs";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
    const std::wstring file = folder + L"\\logcfg.ini";
    auto manager = std::make_shared<std::unique_ptr<LogUtils::DefaultLogManager>>();
    reader.run = [folder, logs, file, manager](const Bytes& input, std::string& problem) {
        if (!WriteWholeFile(file, input)) {
            problem = "cannot write logcfg.ini";
            return false;
        }
        LogUtils::IniLogConfiguration config(file, LogUtils::LogConfigValidator(),
                                             LogUtils::LogConfigFilter(L"enabled", L"1", L'='));
        LogUtils::PropertyMap globals{{L"logdir", logs}};
        config.CompileSinks(LogUtils::LogPropertiesOnMapImpl(globals));
        // The same file through the manager's reload, with a line for every section that takes it.
        if (!*manager) *manager = std::make_unique<LogUtils::DefaultLogManager>(folder, file, logs);
        LogUtils::LogEvent(__FILE__, __LINE__, LogUtils::ModeSynchronous, LogUtils::Error, "Fuzz", manager->get(),
                           false)(L"Fuzz", L"input of %d bytes", static_cast<int>(input.size()));
        return true;
    };
    return reader;
}

Reader StringDatabaseReader(const std::wstring& scratch)
{
    Reader reader;
    reader.name = "strings";
    const Bytes plain = ReadSeed(ProgramFolder() + L"\\fuzz-seeds\\strings.bin");
    // The LZ-compressed form that the suite's tooling ships.
    const Bytes compressed = ReadSeed(ProgramFolder() + L"\\fuzz-seeds\\strings.bin_");
    reader.seeds = {plain, LangUtils::Scramble(plain), "\xEF\xBB\xBF" + plain, "\xFF\xFE" + plain, compressed};
    reader.tokens = {"\r\n", "=", "\"", "\\n", "\\", "\\t", "SZDD", "\x88\xF0\x27\x33", "\xA7\x5A\x53", "\xC3",
                     "\xF0\x9F\x98\x80", "\xED\xA0\x80"};
    reader.boundaries = {1, 2, 3, 4, 14, 15};
    const std::wstring folder = scratch + L"\\lang";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\strings.bin";
    reader.run = [file](const Bytes& input, std::string& problem) {
        // Every input is parsed as the file's content; a share of them also
        // goes through the file and its expansion, which costs far more.
        LangUtils::StringDB db;
        if (ThroughFile(input)) {
            if (!WriteWholeFile(file, input)) {
                problem = "cannot write strings.bin";
                return false;
            }
            db = LangUtils::StringDB(file);
        } else {
            db.Parse(LangUtils::DecodeStrings(LangUtils::Unscramble(input)));
        }
        std::wstring out;
        for (const wchar_t* key : {L"Greeting", L"Tabbed", L"Umlaut", L"Dup", L"", L"no equals at all"})
            db.FindString(key, out);
        return true;
    };
    return reader;
}

// 7 December 2026, 13:05:09.042: an Error of the common library.
void FillEvent(LogUtils::LogEvent& event, const std::wstring& message)
{
    event.localTime = SYSTEMTIME{2026, 12, 1, 7, 13, 5, 9, 42};
    event.blade = L"AGSCommon";
    event.wideMessage = message.c_str();
    event.messageLength = static_cast<int>(message.size());
}

Reader FormatReader()
{
    Reader reader;
    reader.name = "formats";
    reader.wide = true;
    reader.seeds = {Utf16(L"%+d %+T [%l] %F %m"), Utf16(L"%D|%+D %p %+p %t %+t %s:%L %+s %P %f %Q 100%% %"),
                    Utf16(L"%m %e %E %b %B %n"), Utf16(L"plain \u0141 text")};
    reader.tokens = {"%", "%%", "%+", "%-", "%m", "%d", "%T", "%D", "%l", "%F", "%f", "%s", "%L", "%P", "%p",
                     "%t", "%b", "%e", "%E", "%n", "\xC3\xA4", "\xF0\x9F\x98\x80", "\xED\xB0\x80"};
    // The formatter's fixed buffers: names of 256 and 260 characters, texts of 256 bytes.
    reader.boundaries = {16, 31, 32, 35, 36, 63, 64, 127, 128, 255, 256, 257, 259, 260, 261, 4095, 4096};
    reader.run = [](const Bytes& input, std::string& problem) {
        // A format comes from a section of logcfg.ini, read into 1024
        // characters; a message has at most kMaxMessageChars.
        const std::wstring format = AsWide(input).substr(0, 1024);
        LogUtils::LogEvent event("C:\\src\\AGSCommon\\FileName.cpp", 42, LogUtils::ModeSynchronous, LogUtils::Error,
                                 "_T(\"AGSCommon\")", nullptr, false);
        FillEvent(event, AsWide(input).substr(0, LogUtils::kMaxMessageChars));  // any text may be a message
        for (LogUtils::Encoding encoding : {LogUtils::EncodingAnsi, LogUtils::EncodingUtf8, LogUtils::EncodingUnicode}) {
            std::string line;
            LogUtils::ATLString_OStream grow(line);
            LogUtils::LogFormatter().Format(grow, format.c_str(), event, encoding, encoding == LogUtils::EncodingUtf8);
            std::vector<char> fixed(300 + kGuardUnits, static_cast<char>(kGuardUnit));
            LogUtils::FixedBuffer_OStream out(fixed.data(), fixed.data() + 300);
            LogUtils::LogFormatter().Format(out, format.c_str(), event, encoding, false);
            if (out.cursor() < fixed.data() || out.cursor() > fixed.data() + 300 || !GuardIntact(fixed, 300)) {
                problem = "the formatter wrote past its fixed buffer";
                return false;
            }
        }
        return true;
    };
    return reader;
}

// Every argument is a pointer to text that ends as wide and as narrow text,
// and is large enough for what "%n" stores, so that any conversion is safe.
wchar_t g_argumentText[64] = L"ab";

int FormatWide(wchar_t* buffer, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = LogUtils::FormatMessageInto(buffer, format, args);
    va_end(args);
    return n;
}

int FormatNarrow(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = LogUtils::FormatMessageInto(buffer, format, args);
    va_end(args);
    return n;
}

template <typename C, typename F>
bool CheckMessage(F format, const C* text, std::string& problem)
{
    std::vector<C> buffer(LogUtils::kMaxMessageChars + 1 + kGuardUnits, static_cast<C>(kGuardUnit));
    // A "%n" of an earlier input may have stored into the text.
    std::fill(std::begin(g_argumentText), std::end(g_argumentText), L'\0');
    wcscpy(g_argumentText, L"ab");
    wchar_t* a = g_argumentText;
    const int n = format(buffer.data(), text, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a);
    if (n < 0 || n > LogUtils::kMaxMessageChars || buffer[n] != C() ||
        !GuardIntact(buffer, LogUtils::kMaxMessageChars + 1)) {
        problem = "the message overran its buffer or has no end (length " + std::to_string(n) + ")";
        return false;
    }
    return true;
}

Reader MessageReader()
{
    Reader reader;
    reader.name = "messages";
    reader.wide = true;
    reader.seeds = {Utf16(L"Deleting file %s (%d of %u)"), Utf16(L"%ls %hs %S %c %x %08lX %I64d %p"),
                    Utf16(L"100%% done %-20s|%.3s|%5.2f"), Utf16(L"no arguments")};
    reader.tokens = {"%", "%%", "%s", "%ls", "%hs", "%S", "%d", "%i", "%u", "%x", "%X", "%c", "%C", "%p",
                     "%I64d", "%lld", "%f", "%e", "%g", "%a", "%*d", "%.*s", "%-", "%0", "%+", "%#", "%n",
                     "%4095s", "%99999d", "%.99999f", "\xC3\xA4"};
    reader.boundaries = {4094, 4095, 4096, 4097};
    reader.run = [](const Bytes& input, std::string& problem) {
        // A call passes what its format takes: the programs' formats are
        // constants. So a format here keeps at most eight conversions and
        // widths ('%', '*'), each taking at most two of the sixteen slots passed.
        std::wstring wide = AsWide(input);
        int conversions = 0;
        for (wchar_t& c : wide) {
            const char low = static_cast<char>(c);  // what the narrow format gets
            if ((low == '%' || low == '*') && ++conversions > 8) c = L'#';
        }
        Bytes narrow;
        for (wchar_t c : wide) narrow.push_back(static_cast<char>(c));
        return CheckMessage<wchar_t>(FormatWide, wide.c_str(), problem) &&
               CheckMessage<char>(FormatNarrow, narrow.c_str(), problem);
    };
    return reader;
}

Reader RegistryValueReader(HKEY key)
{
    Reader reader;
    reader.name = "registry";
    reader.seeds = {ValueSeed(REG_SZ, L"C:\\Program Files\\Zelmar\\Managed Quellor"),
                    ValueSeed(REG_EXPAND_SZ, L"%ProgramFiles%\\Zelmar\\Endpoint Guard\\"), ValueSeed(REG_SZ, L"9.8.1.200"),
                    ValueSeed(REG_MULTI_SZ, L"a\0b\0"), Bytes("\x03\x2A\x00\x00\x00", 5), ValueSeed(REG_SZ, L"")};
    reader.tokens = {"\0\0", "%", "%ProgramFiles%", "%UNDEFINED%", "\\", "\x3C\xD8"};
    // Text buffers of MAX_PATH, the common 32 and 1024 characters, in bytes.
    reader.boundaries = {62, 63, 64, 518, 519, 520, 521, 522, 2046, 2048, 2050, 65534};
    reader.run = [key](const Bytes& input, std::string& problem) {
        const DWORD type = WriteValueFromInput(key, L"value", input);
        std::wstring text;
        DWORD read = REG_NONE;
        if (win::ReadString(key, L"value", text, &read) == ERROR_SUCCESS &&
            (text.find(L'\0') != std::wstring::npos || text.size() * 2 + 1 > std::max<size_t>(input.size(), 1) || read != type)) {
            problem = "ReadString gave text longer than the value, with a NUL, or the wrong type";
            return false;
        }
        static const size_t sizes[] = {1, 2, 32, 259, 260, 261, 1024};
        for (size_t units : {sizes[input.size() % 7], sizes[(input.size() / 7) % 7]}) {
            std::vector<wchar_t> buffer(units + kGuardUnits, kGuardUnit);
            const LONG rc = win::ReadStringInto(key, L"value", buffer.data(), units);
            const bool ended = std::find(buffer.begin(), buffer.begin() + units, L'\0') != buffer.begin() + units;
            if (!GuardIntact(buffer, units) || ((rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) && !ended)) {
                problem = "ReadStringInto wrote past or left unterminated a buffer of " + std::to_string(units);
                return false;
            }
        }
        DWORD number = 0;
        win::ReadDword(key, L"value", number);
        return true;
    };
    return reader;
}

Reader GuardswitchCommandLineReader()
{
    Reader reader;
    reader.name = "guardswitch_cmdline";
    reader.wide = true;
    reader.seeds = {Utf16(L"Guardswitch_x64.exe /EnableSP"), Utf16(L"\"C:\\x y\\Guardswitch_x86.exe\" -disablesp"),
                    Utf16(L"g.exe /level:3 /name=\"a b\" /flag"), Utf16(L"g.exe")};
    reader.tokens = {" ", "\"", "\\", "\\\"", "/", "-", ":", "=", "\t", "EnableSP", "DisableSP", "level", "name"};
    reader.boundaries = {259, 260, 261, 32767, 32768};
    reader.run = [](const Bytes& input, std::string& problem) {
        const std::wstring line = AsWide(input);
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
        SwitchList list;
        CArgSwitch enable(L"EnableSP", false, list), disable(L"DisableSP", false, list);
        CArgSwitch level(L"level", true, list), name(L"name", true, list);
        list.Parse(argv ? argc : 0, argv);
        bool ok = true;
        for (const CArgSwitch* s : {&enable, &disable})
            if (!s->value().empty()) ok = false;
        for (const CArgSwitch* s : {&level, &name})
            if (!s->given() && !s->value().empty()) ok = false;
        LocalFree(argv);
        if (!ok) problem = "a switch has a value it cannot have";
        return ok;
    };
    return reader;
}

}  // namespace

Bytes ReadSeed(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    Bytes bytes(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    return folder.erase(folder.rfind(L'\\'));
}

Bytes ValueSeed(DWORD type, const std::wstring& text)
{
    size_t index = 0;
    while (kValueTypes[index] != type) ++index;
    return Bytes(1, static_cast<char>(index)) + Utf16(text) + Bytes(2, '\0');
}

DWORD WriteValueFromInput(HKEY key, const wchar_t* name, const Bytes& input)
{
    const DWORD type = input.empty() ? REG_SZ : kValueTypes[static_cast<unsigned char>(input[0]) % 10];
    const Bytes data = input.empty() ? Bytes() : input.substr(1);
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    return type;
}

std::vector<Reader> CommonReaders(const std::wstring& scratch, HKEY scratchKey)
{
    return {LogConfigReader(scratch), StringDatabaseReader(scratch), FormatReader(), MessageReader(),
            RegistryValueReader(scratchKey), GuardswitchCommandLineReader()};
}

}  // namespace fuzz
