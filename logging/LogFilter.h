#pragma once
// The filter language of a section ("module.blades.severities") and its
// evaluation against an event.

#include "LogTypes.h"

#include <map>
#include <set>
#include <string>

template <typename K, typename V>
class Lookupable;

namespace LogUtils {

class LogEvent;

class ICompiledFilter {
public:
    virtual ~ICompiledFilter() = default;
    virtual bool HasSeverity(int severity) const = 0;
    virtual const std::wstring& GetModulePattern() const = 0;
    virtual const std::wstring& GetBladeList() const = 0;
    virtual bool HasBlade(const std::wstring& blade) const = 0;
};

// A compiled "filter" value. Empty, or without a severity part, it takes nothing.
class CompiledFilter : public ICompiledFilter {
public:
    CompiledFilter() = default;
    explicit CompiledFilter(const std::wstring& text);

    bool HasSeverity(int severity) const override { return severities_.count(severity) != 0; }
    const std::wstring& GetModulePattern() const override { return modulePattern_; }
    const std::wstring& GetBladeList() const override { return bladeList_; }
    bool HasBlade(const std::wstring& blade) const override { return blades_.count(blade) != 0; }

private:
    std::wstring modulePattern_;
    std::wstring bladeList_;
    std::set<int> severities_;
    std::set<std::wstring> blades_;
};

class IFilterEvaluator {
public:
    virtual ~IFilterEvaluator() = default;
    virtual bool Evaluate(const ICompiledFilter& filter, const LogEvent& event,
                          const Lookupable<const wchar_t*, const wchar_t*>& globals) const = 0;
};

class FilterEvaluator : public IFilterEvaluator {
public:
    // True when the filter takes the event: its severity is listed, its module
    // text begins with the module pattern (without regard to case) unless that
    // is empty or "*", and its blade is listed exactly unless the list is empty or "*".
    bool Evaluate(const ICompiledFilter& filter, const LogEvent& event,
                  const Lookupable<const wchar_t*, const wchar_t*>& globals) const override;
};

}  // namespace LogUtils
