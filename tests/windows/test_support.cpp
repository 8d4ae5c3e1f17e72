// What the Windows tests share: finding the programs built beside them and
// running one with its output captured.
#include "test_support.h"

#include <windows.h>
#include <stdio.h>

std::string beside_test_program(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

std::string current_folder()
{
    char path[MAX_PATH];
    GetCurrentDirectoryA(sizeof path, path);
    return path;
}

std::string system_file(const char *name)
{
    char path[MAX_PATH];
    GetSystemDirectoryA(path, sizeof path);
    return std::string(path) + "\\" + name;
}

// What the program, and whatever it hands its output to (an uninstall's copy
// of itself), write into pipe. Under Wine a service started on demand (the
// desktop's explorer.exe, once the last desktop has closed) may be given
// the standard handles of the program that started it and outlive the run
// by far; so once the program has ended, a pipe quiet this long is done.
static const DWORD QUIET_AFTER_END_MS = 10000;
static const DWORD POLL_MS = 50;

static std::string read_all(HANDLE pipe, HANDLE process)
{
    std::string text;
    char buffer[4096];
    DWORD quiet_ms = 0, available = 0, got;
    // Fails once every writer has closed its end: the usual end.
    while (PeekNamedPipe(pipe, NULL, 0, NULL, &available, NULL) && quiet_ms < QUIET_AFTER_END_MS) {
        if (available > 0) {
            if (!ReadFile(pipe, buffer, sizeof buffer < available ? sizeof buffer : available, &got, NULL))
                break;
            text.append(buffer, got);
            quiet_ms = 0;
        } else if (WaitForSingleObject(process, POLL_MS) == WAIT_OBJECT_0) {
            quiet_ms += POLL_MS;
            Sleep(POLL_MS);
        }
    }
    return text;
}

int run_captured(const std::string &command_line, program_run *run, const char *working_folder)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE out_read, out_write, err_read, err_write;
    if (!CreatePipe(&out_read, &out_write, &inheritable, 0))
        return 1;
    if (!CreatePipe(&err_read, &err_write, &inheritable, 1 << 20)) {
        CloseHandle(out_read);
        CloseHandle(out_write);
        return 1;
    }
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    PROCESS_INFORMATION process = {};
    std::string writable = command_line;
    BOOL started =
        CreateProcessA(NULL, &writable[0], NULL, NULL, TRUE, 0, NULL, working_folder, &startup, &process);
    // A start that failed says why, for the test that meets it.
    if (!started)
        run->errors = "CreateProcess failed with error " + std::to_string(GetLastError());
    CloseHandle(out_write);
    CloseHandle(err_write);
    if (started) {
        // Standard error stays small (the program writes nothing there), so
        // its pipe buffer holds it while standard output is drained.
        run->output = read_all(out_read, process.hProcess);
        run->errors = read_all(err_read, process.hProcess);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run->exit_code = code;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out_read);
    CloseHandle(err_read);
    return started ? 0 : 1;
}

void *start_hidden(const std::string &command_line, const char *working_folder)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::string writable = command_line;
    // No console at all: Wine starts a conhost.exe for a console without a
    // window, holding the handles this process lets children inherit (its
    // standard output among them), and after TerminateProcess that conhost
    // may never end, so whoever reads this test's output waits for ever.
    BOOL started = CreateProcessA(NULL, &writable[0], NULL, NULL, TRUE, DETACHED_PROCESS, NULL, working_folder,
                                  &startup, &process);
    CloseHandle(nul);
    if (!started)
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

std::string text_mode(const std::string &text)
{
    std::string converted;
    for (char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
}

bool file_exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read_file(const std::string &path)
{
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    fclose(file);
    return text;
}

bool write_file(const std::string &path, const std::string &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool whole = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && whole;
}

void remove_tree(const std::string &path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// ln makes it, run as Wine runs a Unix program, in the Unix folder of the
// current one.
bool link_folder(const char *target, const char *link)
{
    typedef LONG(__cdecl * unix_spawn_function)(char *const argv[], int wait);
    unix_spawn_function spawn =
        (unix_spawn_function)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp");
    char *const argv[] = {(char *)"/bin/ln", (char *)"-sfn", (char *)target, (char *)link, NULL};
    return spawn && spawn(argv, 1) == 0;
}
