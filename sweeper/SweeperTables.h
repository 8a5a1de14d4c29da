#pragma once
// What Sweeper knows about the suite it removes, apart from the removal plan in
// SweeperConfig.xml. The testbed packages in testbed/sweeper-suite use the same
// values; sweeper/README.md lists them.

namespace sweeper {

// The package whose "RemoveCommonInstaller" action is switched off when the
// "AGS Connector" module goes on a released build: the suite's common installer.
inline constexpr wchar_t kCommonInstallerProductCode[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000004}";
inline constexpr wchar_t kAgsConnectorName[] = L"AGS Connector";

// Registry locations below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kEndpointKey[] = L"SOFTWARE\\Zelmar\\Endpoint";
inline constexpr wchar_t kCommonKey[] = L"Software\\Zelmar\\Endpoint\\Common";
inline constexpr wchar_t kInstallerKey[] = L"SOFTWARE\\Zelmar\\Endpoint\\Common\\Installer";
inline constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The management console's plug-in keys, one per module of the suite, removed
// with the suite's own key when a run is not clean.
inline constexpr const wchar_t* kLeftoverKeys[] = {
    L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\ZelmarEndpointAntivirus",
    L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\ZelmarEndpointFirewall",
    L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\ZelmarAgsConnector",
    L"SOFTWARE\\Ostrand Labs\\Dirigent\\Application Plugins\\ZelmarWebGuard",
    kEndpointKey,
};

// Subfolder of the install folder that holds the self-protection switch's libraries.
inline constexpr wchar_t kPlatformFolderName[] = L"Endpoint Guard Platform";

inline constexpr wchar_t kConfigFileName[] = L"SweeperConfig.xml";
inline constexpr wchar_t kMessageCaption[] = L"Zelmar Endpoint Sweeper";

}  // namespace sweeper
