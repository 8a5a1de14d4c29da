// Stand-in for the suite's business-logic framework. Records every call in
// the file named by ZL_BIZ_LOG and answers as the test chooses:
//   ZL_BIZ_INIT  0 makes BizFrameworkInit fail (default: succeed)
//   ZL_BIZ_OPEN  status of BizGetObjectHandle (default 0)
//   ZL_BIZ_SET   status of BizSetPropertiesEx (default 0)
#define ZLBIZ_BUILDING
#include "zlbizframework.h"

#include "Record.h"

namespace {

// The one business object this stand-in knows.
int g_selfProtection;

void Log(const std::wstring& line) { standin::Record(L"ZL_BIZ_LOG", line); }

std::wstring Describe(BizObjectHandle handle) { return handle == &g_selfProtection ? L"SP" : L"<unknown handle>"; }

}  // namespace

BOOL __cdecl BizFrameworkInit()
{
    Log(L"BizFrameworkInit");
    return standin::EnvNumber(L"ZL_BIZ_INIT", 1) != 0;
}

DWORD __cdecl BizGetObjectHandle(const char* objectName, DWORD reserved, void* reservedPointer, BizObjectHandle* handle)
{
    std::string name = objectName ? objectName : "<null>";
    Log(L"BizGetObjectHandle " + std::wstring(name.begin(), name.end()) + L" " + std::to_wstring(reserved) +
        (reservedPointer ? L" <pointer>" : L" 0"));
    DWORD status = standin::EnvNumber(L"ZL_BIZ_OPEN", 0);
    if (status == 0 && name == "SP") *handle = &g_selfProtection;
    else if (status == 0) status = ERROR_NOT_FOUND;
    return status;
}

DWORD __cdecl BizSetPropertiesEx(BizObjectHandle handle, const wchar_t* propertyPath, DWORD flags, ZlVariant* value)
{
    std::wstring variant = L"<no variant>";
    if (value && value->type == ZlVariantType::Bool)
        variant = std::wstring(value->name) + (value->boolValue ? L"=true" : L"=false");
    Log(L"BizSetPropertiesEx " + Describe(handle) + L" " + propertyPath + L" " + std::to_wstring(flags) + L" " +
        variant);
    return standin::EnvNumber(L"ZL_BIZ_SET", 0);
}

void __cdecl BizReleaseObjectHandle(BizObjectHandle handle) { Log(L"BizReleaseObjectHandle " + Describe(handle)); }

void __cdecl BizFrameworkCleanUp() { Log(L"BizFrameworkCleanUp"); }
