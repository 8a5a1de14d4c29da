#pragma once
// On 64-bit Windows the suite's keys in the 64-bit registry view are registry
// links to the 32-bit view: the links themselves go, never what they lead to.

class reloUni;

// Deletes the suite's registry links in the 64-bit view, and the 64-bit
// "SOFTWARE\\Zelmar" when nothing is left below it. Each failure is logged to
// the removal object's log and the next key is tried.
void RemoveRegistryLinks64(reloUni& uni);
