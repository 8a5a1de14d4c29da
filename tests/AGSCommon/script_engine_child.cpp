// Runs the script engines' check as the removal does and writes its lines to
// the file given: script_engine_child.exe <log>. The exit code is the result.
// A test runs it under a Windows version chosen through Wine's settings.
#include "ScriptEngines.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) return 9;
    FILE* log = _wfopen(argv[1], L"w");
    if (!log) return 8;
    CRestoreScriptEngines repair([log](const wchar_t* line) { std::fprintf(log, "%ls\n", line); });
    const int result = repair.CheckAndRestoreScriptEngines();
    std::fclose(log);
    return result;
}
