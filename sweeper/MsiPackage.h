#pragma once
// Edits of a product's cached Windows Installer package ("LocalPackage"), made
// through the installer's database functions and committed at once.

#include <windows.h>

#include <string>
#include <vector>

namespace sweeper {

// A custom action to be softened and the type it gets.
struct CustomActionRecord {
    std::wstring action;
    int newType = 0;
};

// Runs "update `table` set `column`='value' where `Action` = 'action'" on the
// local package of productCode and commits. False when the package cannot be
// found or opened or the statement fails; nothing is logged.
bool EditPackage(const wchar_t* value, const wchar_t* productCode, const wchar_t* action, const wchar_t* table,
                 const wchar_t* column);

// Collects every custom action of the package that runs code (DLL or EXE kinds)
// and does not yet ignore its return code, with that flag added. False when the
// package cannot be opened or its CustomAction table cannot be read.
bool CollectCustomActions(const wchar_t* productCode, std::vector<CustomActionRecord>& records);

// Writes each collected type back, one committed update per record; failures
// of single records are ignored. Always true.
bool ApplyCustomActions(const wchar_t* productCode, const std::vector<CustomActionRecord>& records);

}  // namespace sweeper
