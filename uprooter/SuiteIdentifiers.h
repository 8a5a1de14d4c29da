#pragma once
// Identifiers of the newer suite that the entry removes after Sweeper.
// The testbed stages the same values (see docs/configuration.md).

// Product code of the host-common component, the suite's "Zelmar Endpoint
// Common Installer" package (the last dependency in SweeperConfig.xml); its
// Uninstall key in the 64-bit view tells whether it is still installed.
constexpr wchar_t kHostCommonProductCode[] = L"{5A1E0C11-3D2B-4C6E-9F10-2B7A1E000004}";

// Upgrade code of the management agent, whose product code Windows Installer
// finds after the host-common component is gone.
constexpr wchar_t kAgentUpgradeCode[] = L"{A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D}";
