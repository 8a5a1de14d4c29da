// Stand-in for the suite's trust-validation library. Records every call in the
// file named by ZL_TRUST_LOG and gives the verdicts the test chooses:
//   ZL_TRUST_INTERFACE  status of GetTrustInterface (default 0)
//   ZL_TRUST_FILE       "<status> <trustFlags>:<publisherFlags>" (default "0 2:1")
//   ZL_TRUST_PROCESS    "<status> <trustFlags>:<publisherFlags> ..." with one
//                       record per module (default three trusted modules)
// Built a second time without its export (ZL_TRUST_NO_EXPORT), as a library
// that lacks it.
#include "zlmtrust.h"

#include "Record.h"

#include <cwchar>
#include <sstream>
#include <vector>

namespace {

void Log(const std::wstring& line) { standin::Record(L"ZL_TRUST_LOG", line); }

struct Verdict {
    DWORD status = 0;
    std::vector<ZlTrustRecord> records;
};

Verdict ReadVerdict(const wchar_t* variable, const wchar_t* fallback)
{
    std::wstring text = standin::Env(variable);
    std::wistringstream in(text.empty() ? fallback : text);
    Verdict verdict;
    in >> verdict.status;
    std::wstring item;
    while (in >> item) {
        ZlTrustRecord record{};
        std::swscanf(item.c_str(), L"%lu:%lu", &record.trustFlags, &record.publisherFlags);
        verdict.records.push_back(record);
    }
    return verdict;
}

class Result final : public IZlTrustResult {
public:
    explicit Result(ZlTrustRecord record) : record_(record) {}
    const ZlTrustRecord* WINAPI Record() override { return &record_; }
    void WINAPI Release() override { delete this; }

private:
    ZlTrustRecord record_;
};

class ResultList final : public IZlTrustResultList {
public:
    explicit ResultList(std::vector<ZlTrustRecord> records) : records_(std::move(records)) {}
    ULONG WINAPI Count() override { return static_cast<ULONG>(records_.size()); }
    const ZlTrustRecord* WINAPI Item(ULONG index) override
    {
        return index < records_.size() ? &records_[index] : nullptr;
    }
    void WINAPI Release() override { delete this; }

private:
    std::vector<ZlTrustRecord> records_;
};

class Control final : public ITrustValidationControl {
public:
    DWORD WINAPI ValidateFile(const wchar_t* path, DWORD options, IZlTrustResult** result) override
    {
        Log(L"ValidateFile " + std::wstring(path) + L" " + std::to_wstring(options));
        Verdict verdict = ReadVerdict(L"ZL_TRUST_FILE", L"0 2:1");
        if (verdict.status == 0) *result = new Result(verdict.records.empty() ? ZlTrustRecord{} : verdict.records[0]);
        return verdict.status;
    }
    DWORD WINAPI ValidateProcess(DWORD processId, DWORD options, IZlTrustResultList** modules) override
    {
        Log(L"ValidateProcess " + std::to_wstring(processId) + L" " + std::to_wstring(options));
        Verdict verdict = ReadVerdict(L"ZL_TRUST_PROCESS", L"0 2:1 2:1 2:1");
        if (verdict.status == 0) *modules = new ResultList(std::move(verdict.records));
        return verdict.status;
    }
    void WINAPI Release() override
    {
        Log(L"Release");
        delete this;
    }
};

}  // namespace

#ifndef ZL_TRUST_NO_EXPORT
extern "C" __declspec(dllexport) DWORD WINAPI GetTrustInterface(const wchar_t* interfaceName, void** control)
{
    Log(L"GetTrustInterface " + std::wstring(interfaceName));
    if (DWORD status = standin::EnvNumber(L"ZL_TRUST_INTERFACE", 0)) return status;
    if (std::wcscmp(interfaceName, kTrustInterfaceName) != 0) return ERROR_NOT_SUPPORTED;
    // Stay loaded for as long as the process may use the interface.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&GetTrustInterface), &self);
    *control = static_cast<ITrustValidationControl*>(new Control);
    return 0;
}
#endif
