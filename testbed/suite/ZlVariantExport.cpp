// Stand-in for the suite's variant library. Records building and freeing of
// variants in the framework stand-in's file (ZL_BIZ_LOG), so a test sees the
// order of both.
#define ZLV_BUILDING
#include "ZlVariantExport.h"

#include "Record.h"

#include <cwchar>
#include <new>

namespace ZlVariantHelper {

namespace {
void Log(const std::wstring& line) { standin::Record(L"ZL_BIZ_LOG", line); }
}  // namespace

ZlVariant* ZlvBase::BuildNewZlVariant(void* allocator) const
{
    if (allocator) return nullptr;
    Log(std::wstring(L"BuildNewZlVariant ") + value_.name + (value_.boolValue ? L"=true" : L"=false"));
    return new (std::nothrow) ZlVariant(value_);
}

ZlvBool::ZlvBool(const wchar_t* name, bool value)
{
    value_.type = ZlVariantType::Bool;
    value_.boolValue = value ? 1 : 0;
    std::wcsncpy(value_.name, name, std::size(value_.name) - 1);
}

ZlvBool::~ZlvBool() { value_ = ZlVariant{}; }

AutoPtr::AutoPtr(ZlVariant* variant) : variant_(variant) {}

AutoPtr::operator ZlVariant*() const { return variant_; }

AutoPtr::~AutoPtr()
{
    if (variant_) Log(std::wstring(L"AutoPtr frees ") + variant_->name);
    delete variant_;
}

}  // namespace ZlVariantHelper
