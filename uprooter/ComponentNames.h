#pragma once
// The older suite's service, program, process and driver names that the
// component steps stop, end and hand to the suite's uninstallers. One table;
// docs/configuration.md lists the same values.

#include <cstddef>

struct ComponentNames {
    // Stopped through the service control manager, in this order: the agent's
    // two and the core service it runs on, so that each is deleted stopped.
    const wchar_t* agentServices[3];
    // Deleted with "sc.exe Delete <name>": the first two agent services, then
    // the two core services.
    const wchar_t* deletedServices[4];
    // Below the install folder: the agent's service program (told " /Stop"
    // where there is no NT kernel) and its worker program.
    const wchar_t* agentServiceProgram;
    const wchar_t* agentWorkerProgram;
    // Below the install folder, told " /CloseAll"; and its image name.
    const wchar_t* trayProgram;
    const wchar_t* trayImage;
    // Image names ended before and after the tray program's own.
    const wchar_t* imagesBeforeTray[3];
    const wchar_t* imagesAfterTray[3];
    // Handed to the driver installer after " -u".
    const wchar_t* drivers[3];
};

constexpr ComponentNames kComponentNames = {
    {L"ZlAgentService", L"ZlAgentWorker", L"ZlSysCore"},
    {L"ZlAgentService", L"ZlAgentWorker", L"ZlSysCore", L"ZlSysCoreFilter"},
    L"\\Agent\\tvAgtSvc.exe",
    L"\\Agent\\tvAgtWrk.exe",
    L"\\DesktopUI\\ZTray.exe",
    L"ZTray.exe",
    {L"tvUpdate.exe", L"tvConsole.exe", L"QlScanUI.exe"},
    {L"QlQuarantine.exe", L"tvAlert.exe", L"ZlNotify.exe"},
    {L"zlmhid.sys", L"zlmflt.sys", L"zlmnet.sys"},
};
