#pragma once
// The filter language of a section ("module.blades.severities") and its
// evaluation against an event.

#include "LogProperties.h"
#include "LogTypes.h"

#include <set>
#include <string>

namespace LogUtils {

class LogEvent;

class ICompiledFilter {
public:
    virtual ~ICompiledFilter() = default;
    virtual bool HasSeverity(int severity) const = 0;
    virtual const std::wstring& GetModulePattern() const = 0;
    virtual const std::wstring& GetBladeList() const = 0;
    // The listed blades as keys (with empty values).
    virtual const PropertyLookup& GetBlades() const = 0;
};

// A compiled "filter" value. Empty, or without a severity part, it takes nothing.
class CompiledFilter : public ICompiledFilter {
public:
    CompiledFilter() = default;
    explicit CompiledFilter(const std::wstring& text);
    CompiledFilter(const CompiledFilter& other);
    CompiledFilter& operator=(const CompiledFilter& other);

    bool HasSeverity(int severity) const override { return severities_.count(severity) != 0; }
    const std::wstring& GetModulePattern() const override { return modulePattern_; }
    const std::wstring& GetBladeList() const override { return bladeList_; }
    const PropertyLookup& GetBlades() const override { return bladeLookup_; }

private:
    std::wstring modulePattern_;
    std::wstring bladeList_;
    std::set<int> severities_;
    PropertyMap blades_;
    LogPropertiesOnMapImpl bladeLookup_{blades_};
};

class IFilterEvaluator {
public:
    virtual ~IFilterEvaluator() = default;
    virtual bool Evaluate(const ICompiledFilter& filter, const LogEvent& event, const PropertyLookup& globals) const = 0;
};

class FilterEvaluator : public IFilterEvaluator {
public:
    // True when the filter takes the event: its severity is listed, its module
    // text begins with the module pattern (without regard to case) unless that
    // is empty or "*", and its blade is listed exactly unless the list is empty or "*".
    bool Evaluate(const ICompiledFilter& filter, const LogEvent& event, const PropertyLookup& globals) const override;
};

}  // namespace LogUtils
