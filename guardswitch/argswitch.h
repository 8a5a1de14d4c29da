#pragma once
// Command-line switches of module argswitch. Every switch object links itself
// into a list when it is made and unlinks itself when it goes; the list checks
// its links on every change and reports a broken one instead of following it.

#include <string>

class CArgSwitch;

class SwitchList {
public:
    constexpr SwitchList() = default;
    SwitchList(const SwitchList&) = delete;
    SwitchList& operator=(const SwitchList&) = delete;

    // Links the switch at the head. False, with the list unchanged, when the
    // current head's back link is broken (reported).
    bool Register(CArgSwitch& item);
    // Unlinks the switch. False, with the list unchanged, when a link around
    // it is broken (reported), e.g. after a second unregistration.
    bool Unregister(CArgSwitch& item);

    // Lets every registered switch look for itself in the arguments.
    void Parse(int argc, wchar_t* const* argv);

private:
    CArgSwitch* head_ = nullptr;
};

// The list of the program's own switches, which register before the entry point.
SwitchList& ProcessSwitches();

class CArgSwitch {
public:
    CArgSwitch(const wchar_t* name, bool takesValue, SwitchList& list = ProcessSwitches());
    ~CArgSwitch();
    CArgSwitch(const CArgSwitch&) = delete;
    CArgSwitch& operator=(const CArgSwitch&) = delete;

    // Examines argv[1..argc-1]: an argument starting with '-' or '/' whose rest
    // names the switch (any case) gives it, and the first such argument decides.
    // A switch that takes a value takes the text after the earlier of ':' and
    // '=' in that argument, or else the next argument.
    void Parse(int argc, wchar_t* const* argv);

    const std::wstring& name() const { return name_; }
    bool given() const { return given_; }
    const std::wstring& value() const { return value_; }

private:
    friend class SwitchList;

    std::wstring name_;
    bool takesValue_;
    bool given_ = false;
    std::wstring value_;
    SwitchList& list_;
    CArgSwitch* next_ = nullptr;
    CArgSwitch** prev_ = nullptr;  // the link that points at this switch
};
