/* Where the course is installed: the same folder for the installation and
 * for its removal. */
#include "app/install_folder.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/manifest.h"

void format_install_folder(char install_folder[FOLDER_CAPACITY])
{
    const char *local_app_data = getenv("LOCALAPPDATA");
    char formatted[FOLDER_CAPACITY];
    snprintf(formatted, sizeof formatted, "%s\\%s", local_app_data ? local_app_data : ".", APP_DIR_NAME);
    DWORD length = GetFullPathNameA(formatted, FOLDER_CAPACITY, install_folder, NULL);
    if (length == 0 || length >= FOLDER_CAPACITY)
        snprintf(install_folder, FOLDER_CAPACITY, "%s", formatted);
}

/* The folder this program's file lies in; "" when its path does not fit. */
void format_program_folder(char folder[FILE_PATH_CAPACITY])
{
    DWORD length = GetModuleFileNameA(NULL, folder, FILE_PATH_CAPACITY);
    char *name = length > 0 && length < FILE_PATH_CAPACITY ? strrchr(folder, '\\') : NULL;
    if (name)
        *name = '\0';
    else
        folder[0] = '\0';
}
