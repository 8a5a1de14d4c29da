#include "Entry.h"
#include "LogFile.h"

// The older suite's removal sequence is not part of this build yet: this
// stand-in removes nothing and reports the sequence's normal result.
int RemoveOlderProduct(HINSTANCE /*instance*/)
{
    RunLog().Log(L"RemoveOlderProduct - removal of the older suite is not available in this build; nothing removed");
    return 0;
}
