/* What must hold before an installation touches anything: no other setup at
 * work on the same install folder, and no course running from it. */
#include "install_guards.h"

#include <stdio.h>

#include "capacities.h"
#include "console.h"
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
 * so a setup that crashes leaves nothing that blocks the next one. */
int claim_install_folder(const char *install_folder, HANDLE *claim)
{
    char key[INSTALL_FOLDER_KEY_CAPACITY];
    format_install_folder_key(key, install_folder);
    char name[sizeof "Local\\" - 1 + INSTALL_FOLDER_KEY_CAPACITY];
    snprintf(name, sizeof name, "Local\\%s", key);
    *claim = CreateMutexA(NULL, FALSE, name);
    if (*claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(*claim);
        *claim = NULL;
        return 1;
    }
    return 0;
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
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return 0;
}

/* A second setup would truncate the archives the first is unpacking, or
 * remove them. The course's python.exe cannot be replaced or removed while
 * it runs: under Expand-Archive -Force the runtime may be skipped without a
 * word. */
int guard_install_folder(const char *install_folder, HANDLE *claim)
{
    if (claim_install_folder(install_folder, claim) != 0) {
        say("This setup is already running in another window.");
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
