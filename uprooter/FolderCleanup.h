#pragma once
// The older suite's folders below the maker's shared "Zelmar" parents, which
// other products of the maker share, and its service account's profile
// folder. The steps on the Program Files and data parents are reloUni
// methods; these two write to the removal object's log as well.

#include "reloUni.h"

// The "Zelmar" folder below each Common Files location: the one this process
// sees, then on 64-bit Windows the 64-bit one and the 32-bit one. Reports
// nothing.
void SmartCleanCommonFilesZelmarFolder(reloUni& uni);

// Deletes the profile folder of the suite's service account, if it is a
// folder. Reports nothing.
void removeMQLUserDroppings(reloUni& uni);
