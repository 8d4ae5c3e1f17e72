// Shows what a program that trusts the default searches would pick up from
// its own folder: loads the DLL named first, then runs the command line
// given second and waits for it. The hardening tests run it beside planted
// files to prove those files would be found, so that their absence from
// the installer's run means something.
// Usage: search_probe DLL_NAME COMMAND_LINE
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        printf("usage: search_probe DLL_NAME COMMAND_LINE\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(NULL, argv[2], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (module)
        FreeLibrary(module);
    return 0;
}
