/* Runs one command line as a child process with no window. */
#include "windows/run_hidden.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

HANDLE start_hidden(const char *program, const char *command_line, const char *working_folder, HANDLE log)
{
    if (!program)
        return NULL;
    /* CreateProcessA may write into the command line it is given. */
    char *writable = _strdup(command_line);
    if (!writable)
        return NULL;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (log) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = NULL;
        startup.hStdOutput = log;
        startup.hStdError = log;
    }
    memset(&process, 0, sizeof process);
    BOOL started = CreateProcessA(program, writable, NULL, NULL, log != NULL, CREATE_NO_WINDOW, NULL,
                                  working_folder, &startup, &process);
    free(writable);
    if (!started)
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int run_hidden_logged(const char *program, const char *command_line, const char *working_folder, HANDLE log,
                      unsigned long limit_ms)
{
    HANDLE process = start_hidden(program, command_line, working_folder, log);
    if (!process)
        return 1;
    DWORD exit_code = 1;
    if (WaitForSingleObject(process, limit_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    } else if (!GetExitCodeProcess(process, &exit_code)) {
        exit_code = 1;
    }
    CloseHandle(process);
    return exit_code == 0 ? 0 : 1;
}

int run_hidden(const char *program, const char *command_line, const char *working_folder, unsigned long limit_ms)
{
    return run_hidden_logged(program, command_line, working_folder, NULL, limit_ms);
}
