#pragma once
// The older suite's files in Firefox's components folder, and the marker that
// makes Firefox register its components again at its next start. The step
// itself is reloUni::RemoveFirefoxComponents.

#include <cstddef>

// The suite's Firefox components, deleted from the components folder. One
// table; docs/configuration.md lists the same names.
constexpr const wchar_t* kFirefoxComponentFiles[] = {
    L"nsZlWebSafe.js", L"zlwebsafe.xpt", L"zlwebsafe.dll", L"nsZlRating.js", L"zlrating.xpt",
};
constexpr std::size_t kFirefoxComponentCount = sizeof(kFirefoxComponentFiles) / sizeof(kFirefoxComponentFiles[0]);

// Written next to the components folder: seven characters and a zero byte.
constexpr wchar_t kFirefoxMarkerName[] = L".autoreg";
constexpr char kFirefoxMarker[] = "autoreg";  // its terminator is written too

// Firefox's components folder (folder holds kPathChars units), from the
// "extensions" key of the first "Mozilla Firefox..." product key below
// "SOFTWARE\\Mozilla" that has one. True if its "Components" value was read.
bool GetFirefoxComponentsFolder(wchar_t* folder);

// Firefox's "CurrentVersion" as major and minor (left 0 when the text does
// not scan). True if the value was read.
bool GetFirefoxVersion(int& major, int& minor);
