#include "MsiPackage.h"

#include "Handle.h"
#include "SweeperLog.h"

#include <msiquery.h>

namespace sweeper {

namespace {

constexpr int kKindMask = 0x3F;
constexpr int kContinueFlag = 0x40;
// DLL and EXE from the Binary table, installed with the product, run in a
// directory, named by a property.
constexpr int kSoftenedKinds[] = {1, 2, 17, 18, 34, 50};

bool OpenLocalPackage(const wchar_t* productCode, win::MsiHandle& database)
{
    wchar_t package[520] = {};
    DWORD units = 520;
    if (MsiGetProductInfoW(productCode, L"LocalPackage", package, &units) != ERROR_SUCCESS) return false;
    return MsiOpenDatabaseW(package, MSIDBOPEN_TRANSACT, database.put()) == ERROR_SUCCESS;
}

bool IsSoftenedKind(int type)
{
    for (int kind : kSoftenedKinds)
        if ((type & kKindMask) == kind) return (type & kContinueFlag) == 0;
    return false;
}

}  // namespace

bool EditPackage(const wchar_t* value, const wchar_t* productCode, const wchar_t* action, const wchar_t* table,
                 const wchar_t* column)
{
    win::MsiHandle database;
    if (!OpenLocalPackage(productCode, database)) return false;
    wchar_t query[1024];
    FormatInto(query, 1024, L"update `%ls` set `%ls`='%ls' where `%ls` = '%ls'", table, column, value, L"Action",
               action);
    win::MsiHandle view;
    if (MsiDatabaseOpenViewW(database.get(), query, view.put()) != ERROR_SUCCESS) return false;
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) return false;
    if (MsiViewClose(view.get()) != ERROR_SUCCESS) return false;
    return MsiDatabaseCommit(database.get()) == ERROR_SUCCESS;
}

bool CollectCustomActions(const wchar_t* productCode, std::vector<CustomActionRecord>& records)
{
    win::MsiHandle database;
    if (!OpenLocalPackage(productCode, database)) return false;
    wchar_t query[260];
    FormatInto(query, 260, L"select %ls,%ls from %ls", L"Action", L"Type", L"CustomAction");
    win::MsiHandle view;
    if (MsiDatabaseOpenViewW(database.get(), query, view.put()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return false;
    win::MsiHandle record;
    while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS) {
        wchar_t name[260] = {};
        DWORD units = 260;
        MsiRecordGetStringW(record.get(), 1, name, &units);
        int type = MsiRecordGetInteger(record.get(), 2);
        if (IsSoftenedKind(type)) records.push_back({name, type | kContinueFlag});
    }
    MsiViewClose(view.get());
    MsiDatabaseCommit(database.get());
    return true;
}

bool ApplyCustomActions(const wchar_t* productCode, const std::vector<CustomActionRecord>& records)
{
    for (const CustomActionRecord& record : records) {
        wchar_t type[260];
        _itow(record.newType, type, 10);
        EditPackage(type, productCode, record.action.c_str(), L"CustomAction", L"Type");
    }
    return true;
}

}  // namespace sweeper
