/* The server's window relays what the server prints into the log, so that
 * the log can be cut at its limit: a file handed to the server itself would
 * grow without end. The server shares the window: closing it ends both. */
#include "app/course_server.h"

#include <stdio.h>
#include <string.h>

#include "app/install_folder.h"
#include "common/console.h"
#include "common/manifest.h"

static const char SERVER_LOG_NAME[] = "course-server.log";
static const char LOG_CUT_LINE[] = "\r\n[The log stops here, at 1 MB; the server went on.]\r\n";

enum {
    /* The window's title: the course's name and a short sentence. */
    TITLE_CAPACITY = 512,
    /* This program between quotes, a blank and the switch. */
    SERVE_COMMAND_CAPACITY = FILE_PATH_CAPACITY + 3 + sizeof SERVE_SWITCH,
    /* python.exe between quotes, a blank and server.py. */
    SERVER_COMMAND_CAPACITY = FILE_PATH_CAPACITY + 3 + sizeof "server.py",
    RELAY_CHUNK = 4096,
};

void format_server_log(char log_file[FILE_PATH_CAPACITY], const char *install_folder)
{
    snprintf(log_file, FILE_PATH_CAPACITY, "%s\\%s", install_folder, SERVER_LOG_NAME);
}

static void format_window_title(char title[TITLE_CAPACITY])
{
    snprintf(title, TITLE_CAPACITY, "%s - closing this window ends the course", APP_PRODUCT_NAME);
}

HANDLE start_course_server(const char *install_folder)
{
    char program[FILE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
    if (length == 0 || length >= sizeof program)
        return NULL;
    char command[SERVE_COMMAND_CAPACITY];
    snprintf(command, sizeof command, "\"%s\" %s", program, SERVE_SWITCH);
    char title[TITLE_CAPACITY];
    format_window_title(title);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpTitle = title;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, command, NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL, install_folder, &startup,
                        &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

/* The server's handles: its input from NUL, its output and errors into the
 * pipe's writing end; *reading is the other end, this program's own. */
static int make_server_handles(STARTUPINFOA *startup, HANDLE *reading)
{
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    HANDLE writing;
    if (!CreatePipe(reading, &writing, &inherited, 0))
        return 1;
    SetHandleInformation(*reading, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                               0, NULL);
    memset(startup, 0, sizeof *startup);
    startup->cb = sizeof *startup;
    startup->dwFlags = STARTF_USESTDHANDLES;
    startup->hStdInput = input;
    startup->hStdOutput = writing;
    startup->hStdError = writing;
    return 0;
}

/* Copies what comes through reading into log until the pipe ends (the
 * server and whatever it started have exited), keeping SERVER_LOG_LIMIT
 * bytes and draining the rest, so that the server never blocks on a full
 * pipe. */
static void relay_into(HANDLE reading, HANDLE log)
{
    char chunk[RELAY_CHUNK];
    DWORD got, written;
    unsigned long kept = 0;
    while (ReadFile(reading, chunk, sizeof chunk, &got, NULL) && got > 0) {
        if (kept >= SERVER_LOG_LIMIT)
            continue;
        DWORD room = SERVER_LOG_LIMIT - kept < got ? (DWORD)(SERVER_LOG_LIMIT - kept) : got;
        WriteFile(log, chunk, room, &written, NULL);
        kept += room;
        if (kept >= SERVER_LOG_LIMIT)
            WriteFile(log, LOG_CUT_LINE, sizeof LOG_CUT_LINE - 1, &written, NULL);
    }
}

int run_serve(void)
{
    char install_folder[FILE_PATH_CAPACITY];
    format_program_folder(install_folder);
    char title[TITLE_CAPACITY];
    format_window_title(title);
    SetConsoleTitleA(title);
    print_text("This window runs %s. Closing it ends the course.\n", APP_PRODUCT_NAME);

    char log_file[FILE_PATH_CAPACITY];
    format_server_log(log_file, install_folder);
    /* The last start's alone; the page that explains a failed start reads
     * it while the server may still write. */
    HANDLE log = CreateFileA(log_file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    STARTUPINFOA startup;
    HANDLE reading;
    if (log == INVALID_HANDLE_VALUE || make_server_handles(&startup, &reading) != 0) {
        if (log != INVALID_HANDLE_VALUE)
            CloseHandle(log);
        return 1;
    }
    char runtime[FILE_PATH_CAPACITY];
    snprintf(runtime, sizeof runtime, "%s\\python\\python.exe", install_folder);
    char command[SERVER_COMMAND_CAPACITY];
    snprintf(command, sizeof command, "\"%s\" server.py", runtime);
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(runtime, command, NULL, NULL, TRUE, 0, NULL, install_folder, &startup, &process);
    /* Only the server may hold the writing end: the pipe ends with it. */
    CloseHandle(startup.hStdOutput);
    if (startup.hStdInput != INVALID_HANDLE_VALUE)
        CloseHandle(startup.hStdInput);
    DWORD status = 1;
    if (started) {
        relay_into(reading, log);
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &status))
            status = 1;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        DWORD error = GetLastError();
        char line[FILE_PATH_CAPACITY + 64];
        snprintf(line, sizeof line, "Could not start %s (error %lu).\r\n", runtime, error);
        DWORD written;
        WriteFile(log, line, (DWORD)strlen(line), &written, NULL);
    }
    CloseHandle(reading);
    CloseHandle(log);
    return (int)status;
}
