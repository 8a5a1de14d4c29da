#pragma once
// Where the program's run-time libraries may come from. The caller chooses the
// current folder Guardswitch starts in, so no library may be found there.

// Takes the current folder out of the DLL search of the whole process: the
// program's own folder becomes the DLL folder, which takes the current
// folder's place; the program's folder, the system folders and PATH stay.
// False, with the search unchanged, when the system lacks SetDllDirectoryW
// (Windows 2000, Windows XP before SP1) or the program's path does not fit
// its buffer. Meant to run before anything loads a library.
bool TakeCurrentFolderOutOfDllSearch();

// Whether TakeCurrentFolderOutOfDllSearch has succeeded in this process.
bool CurrentFolderOutOfDllSearch();
