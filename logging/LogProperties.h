#pragma once
// Key/value look-ups shared by the configuration, the filters and the sinks.

#include <functional>
#include <map>
#include <string>

// A read-only look-up of a value by key name; null when there is none.
template <typename K, typename V>
class Lookupable {
public:
    virtual ~Lookupable() = default;
    virtual V Lookup(K key) const = 0;
};

namespace LogUtils {

// Ordered by key; looked up by a plain text without building a string.
using PropertyMap = std::map<std::wstring, std::wstring, std::less<>>;
using PropertyLookup = Lookupable<const wchar_t*, const wchar_t*>;

// Look-up over a map that it does not own.
class LogPropertiesOnMapImpl : public PropertyLookup {
public:
    explicit LogPropertiesOnMapImpl(const PropertyMap& map) : map_(map) {}
    const wchar_t* Lookup(const wchar_t* key) const override
    {
        auto it = map_.find(key);
        return it == map_.end() ? nullptr : it->second.c_str();
    }

private:
    const PropertyMap& map_;
};

}  // namespace LogUtils
