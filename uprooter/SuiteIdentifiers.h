#pragma once
// Identifiers of the newer suite that the entry removes after Sweeper.
// The testbed stages the same values (see docs/configuration.md).

// Product code of the host-common component; its Uninstall key tells whether
// it is still installed.
constexpr wchar_t kHostCommonProductCode[] = L"{5D4C3B2A-1F0E-4D9C-8B7A-6F5E4D3C2B1A}";

// Upgrade code of the management agent, whose product code Windows Installer
// finds after the host-common component is gone.
constexpr wchar_t kAgentUpgradeCode[] = L"{A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D}";
