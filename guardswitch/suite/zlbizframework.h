#pragma once
// The suite's business-logic framework, "zlbizframework.dll", as Guardswitch
// binds it when it loads. Statuses are the framework's own; 0 is success.

#include <windows.h>

#include "ZlVariantExport.h"

#ifdef ZLBIZ_BUILDING
#define ZLBIZ_API __declspec(dllexport)
#else
#define ZLBIZ_API __declspec(dllimport)
#endif

// An open business object.
typedef void* BizObjectHandle;

extern "C" {

// Starts the framework; TRUE on success. BizFrameworkCleanUp follows every
// attempt, whatever its outcome.
ZLBIZ_API BOOL __cdecl BizFrameworkInit();

// Opens the business object with the given narrow name; the two reserved
// arguments are zero. Returns 0 and fills handle, or a status.
ZLBIZ_API DWORD __cdecl BizGetObjectHandle(const char* objectName, DWORD reserved, void* reservedPointer,
                                          BizObjectHandle* handle);

// Plain C calling convention on both architectures.

// Sets the property at path ("/name/name/...") to the variant's value; flags
// is zero. The caller keeps ownership of the variant. Returns 0 or a status.
ZLBIZ_API DWORD __cdecl BizSetPropertiesEx(BizObjectHandle handle, const wchar_t* propertyPath, DWORD flags,
                                          ZlVariant* value);

ZLBIZ_API void __cdecl BizReleaseObjectHandle(BizObjectHandle handle);

ZLBIZ_API void __cdecl BizFrameworkCleanUp();

}  // extern "C"
