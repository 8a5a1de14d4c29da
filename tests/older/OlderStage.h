#pragma once
// What the older suite's tests share: the staging undone at scope end, and a
// look-up in the audit's lists.

#include "SuiteStage.h"

#include <algorithm>
#include <string>
#include <vector>

namespace older_tests {

// Undoes the staging at scope end, whatever the run left.
class StagingUndo {
public:
    StagingUndo(const stage::Footprint& suite, const stage::Snapshot& before) : suite_(suite), before_(before) {}
    ~StagingUndo() { stage::Undo(suite_, before_); }
    StagingUndo(const StagingUndo&) = delete;
    StagingUndo& operator=(const StagingUndo&) = delete;

private:
    const stage::Footprint& suite_;
    const stage::Snapshot& before_;
};

// Whether any listed item contains text.
inline bool Mentions(const std::vector<std::wstring>& list, const std::wstring& text)
{
    return std::any_of(list.begin(), list.end(), [&](const std::wstring& item) { return item.find(text) != std::wstring::npos; });
}

}  // namespace older_tests
