#pragma once
// The folders the suite's programs and libraries lie in: what the start and
// load layer (win32/Launch.h) allows for a program or library that the
// registry names.

#include <string>
#include <vector>

// "Zelmar" below the Program Files and Common Files folders a 32-bit program
// sees, and below the 64-bit ones on 64-bit Windows (read from the 64-bit
// registry view, which every 64-bit Windows has).
std::vector<std::wstring> SuiteFolders();
