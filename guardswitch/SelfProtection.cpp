#include "SelfProtection.h"

#include "Handle.h"
#include "ZlVariantExport.h"
#include "zlbizframework.h"

namespace {

constexpr const wchar_t* kEnableProperty = L"EP_BO_TECHNOLOGY_ENABLE";

// Cleans the framework up after an initialisation attempt, whatever its outcome.
class FrameworkSession {
public:
    FrameworkSession() : started_(BizFrameworkInit() != FALSE) {}
    ~FrameworkSession() { BizFrameworkCleanUp(); }
    FrameworkSession(const FrameworkSession&) = delete;
    FrameworkSession& operator=(const FrameworkSession&) = delete;
    bool started() const { return started_; }

private:
    bool started_;
};

inline void ReleaseObject(BizObjectHandle handle) { BizReleaseObjectHandle(handle); }
using BizObject = win::UniqueHandle<win::traits::NullIsEmpty<BizObjectHandle, ReleaseObject>>;

}  // namespace

std::wstring SelfProtectionPropertyPath()
{
    std::wstring path;
    for (const wchar_t* name : {L"businessObject", L"EP_TOPIC_NAME_TECHNOLOGY", kEnableProperty}) {
        path += L"/";
        path += name;
    }
    return path;
}

DWORD SwitchSelfProtection(bool enable)
{
    FrameworkSession framework;
    if (!framework.started()) return 1;
    BizObject object;
    if (DWORD status = BizGetObjectHandle("SP", 0, nullptr, object.put())) return status;
    ZlVariantHelper::ZlvBool value(kEnableProperty, enable);
    ZlVariantHelper::AutoPtr variant(value.BuildNewZlVariant(nullptr));
    DWORD status = BizSetPropertiesEx(object.get(), SelfProtectionPropertyPath().c_str(), 0, variant);
    object.reset();  // the object is released before the variant is freed
    return status;
}
