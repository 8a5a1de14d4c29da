// Runs the process-termination family as Uprooter would, for tests that give
// this program another Windows version through Wine's per-program settings.
//   killprobe.exe <image name> <result file>
// Writes "nt=<0|1>", "killer=<NT|TH|none>", "pid=<first match>" and
// "killed=<0|1>" (all matches, ended), one per line.
#include "KillProcess.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    CKillProcHolder holder;
    std::string out = "nt=" + std::to_string(winVersion().IsNT() ? 1 : 0) + "\r\n";
    if (!holder.GetKiller()) {
        out += "killer=none\r\n";
    } else {
        CKillProcBase* killer = holder.Killer();
        out += std::string("killer=") + (dynamic_cast<CKillProcTH*>(killer) ? "TH" : "NT") + "\r\n";
        out += "pid=" + std::to_string(killer->GetProcessId(argv[1])) + "\r\n";
        out += "killed=" + std::to_string(killer->KillProcess(argv[1], true) ? 1 : 0) + "\r\n";
    }
    FILE* file = _wfopen(argv[2], L"wb");
    if (file == nullptr) return 3;
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
    return 0;
}
