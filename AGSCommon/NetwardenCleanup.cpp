#include "NetwardenCleanup.h"

#include "LogFile.h"
#include "Removal.h"

LONG RemoveCoreKey(const wchar_t* key, CLogFile& log, HKEY root, win::RegView view)
{
    const wchar_t* path = key ? key : L"";
    log.Log(L"Trying to remove core NW specific reg key %s...", path);
    // An empty path would name the root itself: the removal layer refuses it.
    const LONG rc = static_cast<LONG>(win::removal::RemoveKeyTree(root, path, view).error);
    if (rc == ERROR_SUCCESS) log.Log(L"Successfully removed %s...", path);
    return rc;
}
