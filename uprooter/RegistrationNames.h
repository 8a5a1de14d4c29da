#pragma once
// The older suite's registrations that its uninstallers leave behind: one
// table, kRegistrationNames; docs/configuration.md lists the same values.

#include "Registry.h"
#include "UprooterStrings.h"

#include <windows.h>

// One Windows Installer record of the web-safety component: the key below
// root is prefix followed by the product or upgrade code, packed as Windows
// Installer packs it when packed is set, braced as it stands otherwise.
struct InstallerRecord {
    HKEY root;
    const wchar_t* prefix;
    const wchar_t* code;
    bool packed;
    win::RegView view;
};

// A program group: its start-menu subfolder (with its own separators) and a
// link name without ".lnk", each from the string table when the identifier is
// not 0 and the string is there, else the fallback.
struct ProgramGroup {
    UINT folderId;
    const wchar_t* folder;
    UINT linkId;
    const wchar_t* link;
};

struct RegistrationNames {
    InstallerRecord installerRecords[16];
    const wchar_t* progIds[2];       // each with its ".1" form, below SOFTWARE\Classes
    const wchar_t* classIds[14];     // below SOFTWARE\Classes\CLSID, 32-bit view
    const wchar_t* typeLibraries[2]; // below SOFTWARE\Classes\Typelib
    const wchar_t* interfaces[1];    // below SOFTWARE\Classes\Interface
    const wchar_t* runValues[5];
    const wchar_t* runServicesValues[2];
    const wchar_t* suiteKeys[10];    // HKEY_LOCAL_MACHINE, with their trees
    const wchar_t* firewallApiUninstallKey;
    const wchar_t* onAccessService;  // below System\CurrentControlSet\Services
    ProgramGroup programGroups[4];
    const wchar_t* exclusionValues[3];  // the console program, the product, its link
    const wchar_t* startupLink;         // in the common Startup folder
};

namespace registration_codes {
// The web-safety component's product codes and its upgrade code.
inline constexpr wchar_t kProductA[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B01}";
inline constexpr wchar_t kProductB[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B02}";
inline constexpr wchar_t kProductC[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B03}";
inline constexpr wchar_t kUpgrade[] = L"{6D3B9A27-4C1E-4F80-9B2D-7E5A1C3F8B10}";
inline constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr wchar_t kUninstall32[] = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}  // namespace registration_codes

// Not constexpr: the predefined root keys are not constants to the compiler.
inline const RegistrationNames kRegistrationNames = {
    {
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\", registration_codes::kProductA, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\", registration_codes::kProductB, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\", registration_codes::kProductA, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\", registration_codes::kProductC, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Products\\", registration_codes::kProductA, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Features\\", registration_codes::kProductA, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Features\\", registration_codes::kProductB, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\Features\\", registration_codes::kProductC, true, win::RegView::Native},
        {HKEY_CLASSES_ROOT, L"Installer\\UpgradeCodes\\", registration_codes::kUpgrade, true, win::RegView::Native},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\",
         registration_codes::kUpgrade, true, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\",
         registration_codes::kProductA, true, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, registration_codes::kUninstall, registration_codes::kProductA, false, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, registration_codes::kUninstall32, registration_codes::kProductA, false, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, registration_codes::kUninstall, registration_codes::kProductB, false, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, registration_codes::kUninstall32, registration_codes::kProductB, false, win::RegView::Bit64},
        {HKEY_LOCAL_MACHINE, registration_codes::kUninstall, registration_codes::kProductC, false, win::RegView::Native},
    },
    {L"Zelmar.ScanNowShell", L"Zelmar.AgentNotify"},
    {L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A01}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A02}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A03}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A04}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A05}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A06}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A07}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A08}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A09}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0A}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0B}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0C}",
     L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0D}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0A0E}"},
    {L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0B01}", L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0B02}"},
    {L"{7A3C5E10-2B4D-4E6F-8A1B-3C5D7E9F0C01}"},
    {L"ZTray", L"ZSplash", L"QuellorTray", L"CloudwardTray", L"CloudwardSplash"},
    {L"ZlAgentService", L"ZlSentry"},
    {L"SOFTWARE\\Zelmar\\QLCore\\Engines", L"SOFTWARE\\Zelmar\\QLCore\\Plugins", L"SOFTWARE\\Zelmar\\QLCore",
     L"SOFTWARE\\Zelmar\\QLEngine", L"SOFTWARE\\Zelmar\\Intrulog", L"SOFTWARE\\Zelmar\\Installer",
     L"SOFTWARE\\Zelmar\\ZuzadaZozi", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Managed Quellor",
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Cloudward",
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo Managed Services"},
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelmar Firewall API",
    L"ZlSentry",
    {
        {IDS_GROUP_FOLDER, L"\\Zelmar Cloudward\\", IDS_GROUP_CONSOLE_LINK, L"Zelmar Cloudward Console"},
        {IDS_GROUP_FOLDER, L"\\Zelmar Cloudward\\", IDS_GROUP_UNINSTALL_LINK, L"Uninstall Zelmar Cloudward"},
        {IDS_GROUP_FOLDER, L"\\Zelmar Cloudward\\", IDS_PRODUCT_NAME, L"Zelmar Cloudward"},
        {0, L"\\Zelmar Managed Quellor\\", 0, L"Zelmar Managed Quellor"},
    },
    {L"GRDSConsole.exe", L"Zelmar Managed Quellor", L"Zelmar Managed Quellor.lnk"},
    L"Zelmar Managed Quellor Tray.lnk",
};
