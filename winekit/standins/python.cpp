/* Stand-in for the python.exe of the embeddable Windows Python, packed into
   the runtime zip that the tests and the sample course serve instead of the
   real one, which cannot be fetched here. It records
   where and how it was started; when QUILLBY_PYTHON_HOST names a host (Linux)
   program, such as /usr/bin/python3, it runs that program with the same
   arguments in the same folder, so a demo really serves the course page. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

/* Wine's ntdll exports this to start a Unix program; with wait set it returns
   the program's exit status, or a negative NTSTATUS if it could not start.
   Wine runs it in the Unix folder matching the current one. It sees the
   environment Wine itself was started with, not changes made since. */
typedef LONG(__cdecl *unix_spawn_function)(char *const argv[], int wait);

static int append_line(const char *path, const char *directory, const char *command_line)
{
    FILE *file = fopen(path, "ab");
    if (!file)
        return 0;
    int ok = fprintf(file, "cwd=%s args=%s\n", directory, command_line) >= 0;
    return fclose(file) == 0 && ok;
}

/* Returns the host program's exit status, or 1 if it could not be started. */
static int run_host_program(const char *host, int argc, char **argv)
{
    unix_spawn_function spawn =
        (unix_spawn_function)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp");
    if (!spawn) {
        printf("python stand-in: not under Wine, cannot run the host program %s\n", host);
        return 1;
    }
    char **host_argv = (char **)calloc((size_t)argc + 1, sizeof *host_argv);
    if (!host_argv) {
        printf("python stand-in: out of memory\n");
        return 1;
    }
    host_argv[0] = (char *)host;
    for (int i = 1; i < argc; i++)
        host_argv[i] = argv[i];
    fflush(stdout); /* the host program writes to the same Unix stdout */
    LONG status = spawn(host_argv, 1);
    free(host_argv);
    if (status < 0) {
        printf("python stand-in: cannot run the host program %s (NTSTATUS 0x%08lX)\n", host, (unsigned long)status);
        return 1;
    }
    return (int)status;
}

int main(int argc, char **argv)
{
    char directory[MAX_PATH];
    const char *log = getenv("QUILLBY_PYTHON_LOG");
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) {
        printf("python stand-in: cannot read the current folder\n");
        return 1;
    }
    if (log && log[0] != '\0' && !append_line(log, directory, GetCommandLineA())) {
        printf("python stand-in: cannot append to the log '%s'\n", log);
        return 1;
    }
    const char *host = getenv("QUILLBY_PYTHON_HOST");
    if (!host || host[0] == '\0')
        return 0;
    return run_host_program(host, argc, argv);
}
