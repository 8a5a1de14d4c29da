#include "Unregister.h"

#include "Handle.h"
#include "Launch.h"

void UnregisterServerInProcess(const wchar_t* module)
{
    if (module == nullptr || module[0] == L'\0') return;
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    {
        // Only an existing file by its full path, with no link on the way.
        win::Module library(win::launch::Load(win::launch::Judge(module)));
        // Uninitialised only if it worked, after the module is released.
        win::ComInit com;
        using Entry = HRESULT(STDAPICALLTYPE*)();
        if (library) {
            if (auto unregister = reinterpret_cast<Entry>(GetProcAddress(library.get(), "DllUnregisterServer")))
                unregister();
            library.reset();
        }
    }
    SetErrorMode(previous);
}
