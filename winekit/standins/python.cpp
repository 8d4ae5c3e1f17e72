/* Stand-in for the python.exe of the embeddable Windows Python, packed into
   the runtime zip that the tests and the sample course serve instead of the
   real one, which cannot be fetched here. It records
   where and how it was started; when QUILLBY_PYTHON_HOST names a host (Linux)
   Python, such as /usr/bin/python3, it runs the script on it with the module
   search path that CPython 3.12 would give it from this runtime folder
   (python_start.py, kept in this program's resources), so a course that
   cannot import on a learner's Windows cannot here either. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

/* Wine's ntdll exports this to start a Unix program; with wait set it returns
   the program's exit status, or a negative NTSTATUS if it could not start.
   Wine runs it in the Unix folder matching the current one. It sees the
   environment Wine itself was started with, not changes made since. */
typedef LONG(__cdecl *unix_spawn_function)(char *const argv[], int wait);
/* Wine's kernel32 exports this: the Unix path of a Windows one, on the
   process heap, or NULL when the path or its folder does not exist. */
typedef char *(__cdecl *unix_name_function)(const wchar_t *path);

enum { PYTHON_START_RESOURCE = 1, PATH_UNITS = 32768 };

/* CPython 3.12 reads the ._pth named after its DLL, python312.dll, before
   the one named after the program. */
static const wchar_t *const PATH_FILES[] = {L"python312._pth", L"python._pth"};
static const wchar_t USER_SITE[] = L"\\Python\\Python312\\site-packages";

static int append_line(const char *path, const char *directory, const char *command_line)
{
    FILE *file = fopen(path, "ab");
    if (!file)
        return 0;
    int ok = fprintf(file, "cwd=%s args=%s\n", directory, command_line) >= 0;
    return fclose(file) == 0 && ok;
}

/* The text of the start script, terminated, on the heap; NULL if missing. */
static char *python_start(void)
{
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(PYTHON_START_RESOURCE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
    const void *bytes = loaded ? LockResource(loaded) : NULL;
    DWORD size = found ? SizeofResource(NULL, found) : 0;
    char *text = bytes ? (char *)malloc(size + 1) : NULL;
    if (text) {
        memcpy(text, bytes, size);
        text[size] = '\0';
    }
    return text;
}

/* The host path of a Windows one, on the heap ("" when it does not exist). */
static char *host_path(unix_name_function unix_name, const wchar_t *path)
{
    char *name = unix_name(path);
    if (!name)
        return _strdup("");
    char *copy = _strdup(name);
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

/* The host paths of this runtime's folder, of the ._pth that CPython would
   read there ("" without one) and of the user's site folder ("" without
   one), each on the heap; 0, or 1 when this program's folder is unknown. */
static int runtime_paths(unix_name_function unix_name, wchar_t *folder, wchar_t *file, char *paths[3])
{
    DWORD length = GetModuleFileNameW(NULL, folder, PATH_UNITS);
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (length == 0 || length >= PATH_UNITS || !slash)
        return 1;
    *slash = L'\0';
    paths[0] = host_path(unix_name, folder);
    paths[1] = NULL;
    for (size_t i = 0; i < sizeof PATH_FILES / sizeof PATH_FILES[0] && !paths[1]; i++) {
        _snwprintf(file, PATH_UNITS, L"%ls\\%ls", folder, PATH_FILES[i]);
        if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES)
            paths[1] = host_path(unix_name, file);
    }
    length = GetEnvironmentVariableW(L"APPDATA", file, PATH_UNITS - (DWORD)wcslen(USER_SITE));
    if (length > 0 && length < PATH_UNITS - wcslen(USER_SITE))
        paths[2] = host_path(unix_name, wcscat(file, USER_SITE));
    paths[1] = paths[1] ? paths[1] : _strdup("");
    paths[2] = paths[2] ? paths[2] : _strdup("");
    return paths[0][0] == '\0';
}

/* A host program started through Wine writes to Wine's own Unix output, not
   to the handles this program was given (the pipe of a launcher that keeps a
   log, say). So the host writes into two files of the temp folder, which
   this program copies to its own standard output and error as they grow. A
   file is opened to be deleted on close, so a stand-in that is ended leaves
   none behind; the host keeps writing to it until it ends too. */
struct host_capture {
    wchar_t path[MAX_PATH];
    HANDLE file;
    HANDLE target;
    char *host_path;
};

static int open_capture(unix_name_function unix_name, DWORD standard, struct host_capture *capture)
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    capture->file = INVALID_HANDLE_VALUE;
    capture->target = GetStdHandle(standard);
    capture->host_path = NULL;
    if (length == 0 || length >= MAX_PATH || GetTempFileNameW(folder, L"qpy", 0, capture->path) == 0)
        return 1;
    capture->file = CreateFileW(capture->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (capture->file == INVALID_HANDLE_VALUE) {
        DeleteFileW(capture->path);
        return 1;
    }
    capture->host_path = host_path(unix_name, capture->path);
    return capture->host_path[0] == '\0';
}

/* Copies what the host wrote since the last call; a target that is gone or
   was never given takes nothing, as a closed pipe would. */
static void copy_capture(struct host_capture *capture)
{
    char buffer[4096];
    DWORD got = 0, put = 0;
    while (ReadFile(capture->file, buffer, sizeof buffer, &got, NULL) && got > 0)
        if (capture->target && capture->target != INVALID_HANDLE_VALUE)
            WriteFile(capture->target, buffer, got, &put, NULL);
}

struct host_run {
    unix_spawn_function spawn;
    char **argv;
    LONG status;
};

static DWORD WINAPI run_host(void *parameter)
{
    struct host_run *run = (struct host_run *)parameter;
    run->status = run->spawn(run->argv, 1);
    return 0;
}

/* Runs the script on the host's Python, the path set by the start script,
   its output carried to this program's own handles. */
static LONG spawn_on_host(unix_spawn_function spawn, unix_name_function unix_name, const char *host,
                          const char *start, char *const paths[3], int argc, char **argv)
{
    struct host_capture captures[2];
    int failed = open_capture(unix_name, STD_OUTPUT_HANDLE, &captures[0]);
    failed |= open_capture(unix_name, STD_ERROR_HANDLE, &captures[1]);
    /* the words below, the arguments after the program name, a NULL */
    char **host_argv = (char **)calloc((size_t)argc + 14, sizeof *host_argv);
    struct host_run run = {spawn, host_argv, -1};
    HANDLE thread = NULL;
    if (!failed && host_argv) {
        /* Isolated and without site: the start script alone sets the path. */
        const char *head[] = {"/bin/sh", "-c", "out=$1 err=$2; shift 2; exec \"$@\" >>\"$out\" 2>>\"$err\"", "sh",
                              captures[0].host_path, captures[1].host_path,
                              host, "-I", "-S", "-c", start, paths[0], paths[1], paths[2]};
        size_t count = 0;
        for (const char *word : head)
            host_argv[count++] = (char *)word;
        for (int i = 1; i < argc; i++)
            host_argv[count++] = argv[i];
        fflush(stdout);
        thread = CreateThread(NULL, 0, run_host, &run, 0, NULL);
    }
    for (int ended = !thread; !ended;) {
        ended = WaitForSingleObject(thread, 50) != WAIT_TIMEOUT;
        for (struct host_capture &capture : captures)
            copy_capture(&capture);
    }
    if (thread)
        CloseHandle(thread);
    for (struct host_capture &capture : captures) {
        if (capture.file != INVALID_HANDLE_VALUE)
            CloseHandle(capture.file);
        free(capture.host_path);
    }
    free(host_argv);
    return run.status;
}

/* Returns the host program's exit status, or 1 if it could not be started. */
static int run_on_host(const char *host, int argc, char **argv)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll"), kernel32 = GetModuleHandleA("kernel32.dll");
    unix_spawn_function spawn = (unix_spawn_function)(void *)GetProcAddress(ntdll, "__wine_unix_spawnvp");
    unix_name_function unix_name = (unix_name_function)(void *)GetProcAddress(kernel32, "wine_get_unix_file_name");
    if (!spawn || !unix_name) {
        printf("python stand-in: not under Wine, cannot run the host program %s\n", host);
        return 1;
    }
    char *start = python_start();
    char *paths[3] = {NULL, NULL, NULL};
    wchar_t *folder = (wchar_t *)calloc(PATH_UNITS, sizeof *folder);
    wchar_t *file = (wchar_t *)calloc(PATH_UNITS, sizeof *file);
    LONG status = -1;
    if (!start || !folder || !file || runtime_paths(unix_name, folder, file, paths) != 0)
        printf("python stand-in: cannot find its start script or its own folder\n");
    else if ((status = spawn_on_host(spawn, unix_name, host, start, paths, argc, argv)) < 0)
        printf("python stand-in: cannot run the host program %s (NTSTATUS 0x%08lX)\n", host, (unsigned long)status);
    for (char *path : paths)
        free(path);
    free(start);
    free(folder);
    free(file);
    return status < 0 ? 1 : (int)status;
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
    return run_on_host(host, argc, argv);
}
