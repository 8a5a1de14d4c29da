#pragma once
// Identifiers of Uprooter's string table (UprooterStrings.rc).

// Texts of the older suite's removal; %s is the product display name.
#define IDS_REBOOT_QUESTION 100        // the restart question
#define IDS_CLEANUP_CAPTION 101        // caption of every message box
#define IDS_PRODUCT_NAME 102           // also a program-group link name
#define IDS_NOT_ADMINISTRATOR 103
#define IDS_DEFAULT_PRODUCT_NAME 10904 // when the agent names none

// Program groups: a start-menu subfolder carries its own separators; link
// names are without ".lnk".
#define IDS_GROUP_FOLDER 10002
#define IDS_GROUP_CONSOLE_LINK 10003
#define IDS_GROUP_UNINSTALL_LINK 10005

// File lists: a caption at the first identifier, file names from the next one
// on up to an entry "0", and an end caption at the block's last identifier.
#define IDS_AGENT_COM_LIBRARIES 10100
#define IDS_AGENT_COM_LIBRARIES_END 10199
#define IDS_OEM_COM_LIBRARIES 10200
#define IDS_OEM_COM_LIBRARIES_END 10299
#define IDS_SCANNER_COM_LIBRARIES 10300
#define IDS_SCANNER_COM_LIBRARIES_END 10399
#define IDS_AGENT_LOCAL_SERVERS 10500
#define IDS_AGENT_LOCAL_SERVERS_END 10599
#define IDS_SCANNER_PROGRAMS 10600
#define IDS_SCANNER_PROGRAMS_END 10699
#define IDS_DRIVER_FILES 10700
#define IDS_DRIVER_FILES_END 10799
#define IDS_FIREWALL_MODULES 10800
#define IDS_FIREWALL_MODULES_END 10899
#define IDS_SCANNER64_MODULES 10900
#define IDS_SCANNER64_MODULES_END 10903
