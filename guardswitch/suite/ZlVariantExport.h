#pragma once
// The suite's variant library, "ZlVariantExport.dll": typed, named values that
// the business-logic framework takes. A variant is allocated and freed inside
// the library; AutoPtr is its owner on the caller's side.

#include <cstdint>

#ifdef ZLV_BUILDING
#define ZLV_API __declspec(dllexport)
#else
#define ZLV_API __declspec(dllimport)
#endif

enum class ZlVariantType : std::uint32_t { Empty = 0, Bool = 1 };

struct ZlVariant {
    ZlVariantType type;
    std::uint32_t boolValue;  // 0 or 1 when type is Bool
    wchar_t name[64];         // always terminated; longer names are cut
};

namespace ZlVariantHelper {

// A value held by the caller, from which the library builds variants.
class ZlvBase {
public:
    // Builds a new variant from this value; allocator must be null (the
    // library's own heap). Returns null when out of memory.
    ZLV_API ZlVariant* BuildNewZlVariant(void* allocator) const;

protected:
    ZlvBase() = default;
    ZlVariant value_{};
};

class ZlvBool : public ZlvBase {
public:
    ZLV_API ZlvBool(const wchar_t* name, bool value);
    ZLV_API ~ZlvBool();
    ZlvBool(const ZlvBool&) = delete;
    ZlvBool& operator=(const ZlvBool&) = delete;
};

// Owns one variant built by the library and frees it there.
class AutoPtr {
public:
    ZLV_API explicit AutoPtr(ZlVariant* variant);
    ZLV_API operator ZlVariant*() const;
    ZLV_API ~AutoPtr();
    AutoPtr(const AutoPtr&) = delete;
    AutoPtr& operator=(const AutoPtr&) = delete;

private:
    ZlVariant* variant_;
};

}  // namespace ZlVariantHelper
