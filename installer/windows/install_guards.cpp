/* What must hold before an installation touches anything: no other setup at
 * work on the same install folder, and no course running from it. */
#include "windows/install_guards.h"

#include <tlhelp32.h>
#include <stdio.h>
#include <wchar.h>

#include "common/capacities.h"
#include "common/console.h"
#include "sha256.h"

/* The digest of the folder upper-cased, as Windows compares paths: a folder
 * name may be longer than a mutex's or a registry key's name and hold
 * backslashes, which neither may. */
void format_install_folder_key(char key[INSTALL_FOLDER_KEY_CAPACITY], const char *install_folder)
{
    /* A folder has no more characters than bytes. */
    wchar_t folder[FOLDER_CAPACITY];
    wchar_t upper[FOLDER_CAPACITY];
    int length = MultiByteToWideChar(CP_ACP, 0, install_folder, -1, folder, FOLDER_CAPACITY);
    length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, folder, length, upper, FOLDER_CAPACITY, NULL,
                           NULL, 0);
    char digest[65];
    sha256_hex(upper, (size_t)length * sizeof upper[0], digest);
    snprintf(key, INSTALL_FOLDER_KEY_CAPACITY, "CourseSetup.%s", digest);
}

/* The claim is a named mutex, which the system drops with the last handle,
 * so a setup that crashes leaves nothing that blocks the next one. One that
 * cannot be opened is held all the same: a setup run as administrator, in
 * the same session's namespace, made it with the default security of an
 * elevated program, which lets only administrators in. */
/* The claim's name, the start's mark (the claim's name with ".start"
 * after it) and the updates' claim (with ".update"). */
static const char START_MARK[] = ".start";
static const char UPDATE_MARK[] = ".update";
enum { MUTEX_NAME_CAPACITY = sizeof "Local\\" - 1 + INSTALL_FOLDER_KEY_CAPACITY + sizeof UPDATE_MARK - 1 };

static void format_mutex_name(char name[MUTEX_NAME_CAPACITY], const char *install_folder, const char *mark)
{
    char key[INSTALL_FOLDER_KEY_CAPACITY];
    format_install_folder_key(key, install_folder);
    snprintf(name, MUTEX_NAME_CAPACITY, "Local\\%s%s", key, mark);
}

/* The mutex named for install_folder and mark, made by this process alone;
 * NULL when another holds it. */
static HANDLE claim_alone(const char *install_folder, const char *mark)
{
    char name[MUTEX_NAME_CAPACITY];
    format_mutex_name(name, install_folder, mark);
    HANDLE claim = CreateMutexA(NULL, FALSE, name);
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        claim = NULL;
    }
    return claim;
}

HANDLE claim_update_work(const char *install_folder)
{
    return claim_alone(install_folder, UPDATE_MARK);
}

int claim_install_folder(const char *install_folder, HANDLE *claim)
{
    *claim = claim_alone(install_folder, "");
    return *claim == NULL;
}

/* A running program's image cannot be opened for writing: Windows answers a
 * sharing violation, as Wine does. The file is opened and closed unchanged. */
int course_is_open(const char *install_folder)
{
    char runtime[FILE_PATH_CAPACITY];
    snprintf(runtime, sizeof runtime, "%s\\python\\python.exe", install_folder);
    HANDLE file = CreateFileA(runtime, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return runtime_is_running(runtime, GetLastError());
    CloseHandle(file);
    return 0;
}

/* The volume and index of the file at path, the same whatever path names
 * it (a short name, another drive letter for the folder); 1 when it cannot
 * be read. Asking for no access, it opens a file that may not be written. */
static int file_identity(const wchar_t *path, BY_HANDLE_FILE_INFORMATION *identity)
{
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    int status = GetFileInformationByHandle(file, identity) ? 0 : 1;
    CloseHandle(file);
    return status;
}

/* 1 when a running process's image is the file at runtime. Only processes
 * under the runtime's own file name are looked at. */
static int runs_as_process(const wchar_t *runtime)
{
    BY_HANDLE_FILE_INFORMATION wanted, image;
    if (file_identity(runtime, &wanted) != 0)
        return 0;
    const wchar_t *name = wcsrchr(runtime, L'\\') + 1;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    int running = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running; more = Process32NextW(snapshot, &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, name, -1, TRUE) != CSTR_EQUAL)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t path[FILE_PATH_CAPACITY];
        DWORD length = FILE_PATH_CAPACITY;
        running = QueryFullProcessImageNameW(process, 0, path, &length) && file_identity(path, &image) == 0 &&
                  image.dwVolumeSerialNumber == wanted.dwVolumeSerialNumber &&
                  image.nFileIndexHigh == wanted.nFileIndexHigh && image.nFileIndexLow == wanted.nFileIndexLow;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return running;
}

/* A file this user may not write, read-only or denied by its security, is
 * refused with access denied whether it runs or not: only the running
 * processes can tell. */
int runtime_is_running(const char *runtime, DWORD write_error)
{
    if (write_error == ERROR_SHARING_VIOLATION)
        return 1;
    wchar_t path[FILE_PATH_CAPACITY];
    return MultiByteToWideChar(CP_ACP, 0, runtime, -1, path, FILE_PATH_CAPACITY) > 0 && runs_as_process(path);
}

HANDLE mark_course_starting(const char *install_folder)
{
    char name[MUTEX_NAME_CAPACITY];
    format_mutex_name(name, install_folder, START_MARK);
    return CreateMutexA(NULL, FALSE, name);
}

static int course_is_starting(const char *install_folder)
{
    char name[MUTEX_NAME_CAPACITY];
    format_mutex_name(name, install_folder, START_MARK);
    HANDLE mark = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (mark)
        CloseHandle(mark);
    return mark != NULL || GetLastError() == ERROR_ACCESS_DENIED;
}

/* A second setup would truncate the archives the first is unpacking, or
 * remove them. The course's python.exe cannot be replaced or removed while
 * it runs: under Expand-Archive -Force the runtime may be skipped without a
 * word. */
int guard_install_folder(const char *install_folder, HANDLE *claim)
{
    if (claim_install_folder(install_folder, claim) != 0) {
        /* A first start may wait two minutes for the course: a learner who
         * runs the setup again meanwhile has no other setup to close. */
        say(course_is_starting(install_folder) ? "The course is starting in another window. Close it once it has "
                                                 "opened, then run this setup again."
                                               : "This setup is already running in another window.");
        return 1;
    }
    if (!course_is_open(install_folder))
        return 0;
    say("The course is open. Close its window, then run this setup again.");
    if (*claim)
        CloseHandle(*claim);
    *claim = NULL;
    return 1;
}
