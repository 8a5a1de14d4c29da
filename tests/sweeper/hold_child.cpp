// A child that runs until the test lets it go: waits for the named event given
// as the first argument, then exits with the number given as the second.
#include <windows.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 99;
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (!release) return 98;
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    return static_cast<int>(wcstoul(argv[2], nullptr, 10));
}
