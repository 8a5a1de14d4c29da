#pragma once
// The older suite's keys in the 64-bit registry view are registry links to
// its keys in the 32-bit view; ordinary deletion would reach through them.

class reloUni;

// Deletes the links themselves (their 32-bit targets are the 32-bit clean-up's),
// then the suite's 64-bit key when it is left empty, logging each to the
// removal object's log. Does nothing on Windows without a 64-bit view.
void RemoveRegistryLinks64(reloUni& uni);
