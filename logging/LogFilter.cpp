#include "LogFilter.h"

#include "LogEvent.h"

#include <windows.h>

namespace LogUtils {

namespace {
// Calls add with every non-empty piece of list between "|".
template <typename Add>
void ForEachPiece(const std::wstring& list, Add add)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t bar = list.find(L'|', start);
        if (bar == std::wstring::npos) bar = list.size();
        if (bar > start) add(list.substr(start, bar - start));
        start = bar + 1;
    }
}
}  // namespace

CompiledFilter::CompiledFilter(const std::wstring& text)
{
    size_t firstDot = text.find(L'.');
    if (firstDot == std::wstring::npos) return;
    modulePattern_ = text.substr(0, firstDot);
    size_t secondDot = text.find(L'.', firstDot + 1);
    if (secondDot == std::wstring::npos) return;
    bladeList_ = text.substr(firstDot + 1, secondDot - firstDot - 1);
    ForEachPiece(text.substr(secondDot + 1), [this](const std::wstring& piece) { severities_.insert(SeverityFromName(piece)); });
    ForEachPiece(bladeList_, [this](const std::wstring& piece) { blades_.emplace(piece, std::wstring()); });
}

// The look-up refers to this object's own map, never to the source's.
CompiledFilter::CompiledFilter(const CompiledFilter& other)
    : modulePattern_(other.modulePattern_), bladeList_(other.bladeList_), severities_(other.severities_),
      blades_(other.blades_)
{
}

CompiledFilter& CompiledFilter::operator=(const CompiledFilter& other)
{
    modulePattern_ = other.modulePattern_;
    bladeList_ = other.bladeList_;
    severities_ = other.severities_;
    blades_ = other.blades_;
    return *this;
}

bool FilterEvaluator::Evaluate(const ICompiledFilter& filter, const LogEvent& event, const PropertyLookup&) const
{
    if (!filter.HasSeverity(event.severity)) return false;
    const std::wstring& pattern = filter.GetModulePattern();
    if (!pattern.empty() && pattern != L"*") {
        // Only as many characters as the pattern has are compared.
        wchar_t module[256];
        int n = MultiByteToWideChar(CP_THREAD_ACP, 0, event.moduleText ? event.moduleText : "", -1, module, 256);
        if (n <= 0) {
            n = 256;  // longer than the buffer: its first 255 characters
            module[255] = L'\0';
        }
        if (static_cast<size_t>(n - 1) < pattern.size() || _wcsnicmp(module, pattern.c_str(), pattern.size()) != 0)
            return false;
    }
    const std::wstring& blades = filter.GetBladeList();
    if (blades.empty() || blades == L"*") return true;
    return filter.GetBlades().Lookup(event.blade ? event.blade : L"") != nullptr;
}

}  // namespace LogUtils
