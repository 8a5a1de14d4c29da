#include "argswitch.h"

#include "SwitchListFault.h"

#include <windows.h>

#include <cwchar>

bool SwitchList::Register(CArgSwitch& item)
{
    CArgSwitch** prev = &head_;
    CArgSwitch* next = *prev;
    if (next && next->prev_ != prev) {
        ReportSwitchListFault(__LINE__, "ASSERT - next->prev == prev.");
        return false;
    }
    item.next_ = next;
    item.prev_ = prev;
    if (next) next->prev_ = &item.next_;
    *prev = &item;
    return true;
}

bool SwitchList::Unregister(CArgSwitch& item)
{
    if (!item.prev_ || *item.prev_ != &item) {
        ReportSwitchListFault(__LINE__, "ASSERT - *prev == this.");
        return false;
    }
    CArgSwitch* next = item.next_;
    if (next && next->prev_ != &item.next_) {
        ReportSwitchListFault(__LINE__, "ASSERT - next->prev == &next.");
        return false;
    }
    *item.prev_ = next;
    if (next) next->prev_ = item.prev_;
    return true;
}

void SwitchList::Parse(int argc, wchar_t* const* argv)
{
    for (CArgSwitch* item = head_; item; item = item->next_) item->Parse(argc, argv);
}

SwitchList& ProcessSwitches()
{
    // Constant-initialised, so switches made before the entry point find it ready.
    static constinit SwitchList list;
    return list;
}

CArgSwitch::CArgSwitch(const wchar_t* name, bool takesValue, SwitchList& list)
    : name_(name), takesValue_(takesValue), list_(list)
{
    list_.Register(*this);
}

CArgSwitch::~CArgSwitch() { list_.Unregister(*this); }

void CArgSwitch::Parse(int argc, wchar_t* const* argv)
{
    given_ = false;
    value_.clear();
    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (arg[0] != L'-' && arg[0] != L'/') continue;
        std::wstring rest = arg + 1;
        size_t cut = takesValue_ ? rest.find_first_of(L":=") : std::wstring::npos;
        if (_wcsicmp(rest.substr(0, cut).c_str(), name_.c_str()) != 0) continue;
        given_ = true;
        if (cut != std::wstring::npos) value_ = rest.substr(cut + 1);
        else if (takesValue_ && i + 1 < argc) value_ = argv[i + 1];
        return;
    }
}
