/* Runs one command line as a child process with no window and waits for it. */
#include "windows/run_hidden.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

int run_hidden(const char *program, const char *command_line, const char *working_folder, unsigned long limit_ms)
{
    if (!program)
        return 1;
    /* CreateProcessA may write into the command line it is given. */
    char *writable = _strdup(command_line);
    if (!writable)
        return 1;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    memset(&process, 0, sizeof process);
    BOOL started = CreateProcessA(program, writable, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, working_folder,
                                  &startup, &process);
    free(writable);
    if (!started)
        return 1;

    DWORD exit_code = 1;
    if (WaitForSingleObject(process.hProcess, limit_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    } else if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
        exit_code = 1;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exit_code == 0 ? 0 : 1;
}
