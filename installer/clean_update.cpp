/* An installation over an earlier one leaves nothing of it stale: the
 * record each installation keeps of what its archives brought tells the
 * lessons and runtime files a new version dropped from what the learner
 * wrote, which stays. */
#include "clean_update.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "capacities.h"
#include "install_record.h"
#include "manifest.h"
#include "path_set.h"
#include "stale_files.h"
#include "zip_entries.h"

static const char RECORD_NAME[] = "installed-files.txt";

/* Writes into units the part of path below install_folder and returns how
 * many units that took with the terminator; 0 when path is not inside it. */
static int below(const char *install_folder, const char *path, wchar_t units[FILE_PATH_CAPACITY])
{
    size_t length = strlen(install_folder);
    if (strncmp(path, install_folder, length) != 0 || path[length] != '\\')
        return 0;
    return MultiByteToWideChar(CP_ACP, 0, path + length + 1, -1, units, FILE_PATH_CAPACITY);
}

/* The archive itself and what it brings to destination. */
static int add_archive(path_set *set, const char *install_folder, const char *archive, const char *destination)
{
    wchar_t archive_path[FILE_PATH_CAPACITY], folder[FILE_PATH_CAPACITY + 1] = L"";
    int archive_units = below(install_folder, archive, archive_path);
    if (archive_units == 0 || add_path(set, L"", archive_path, (size_t)archive_units - 1) != 0)
        return 1;
    if (strcmp(destination, install_folder) != 0) {
        int folder_units = below(install_folder, destination, folder);
        if (folder_units == 0)
            return 1;
        wcscpy(folder + folder_units - 1, L"\\");
    }
    return add_zip_entries(set, archive, folder);
}

void clean_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                  const char *runtime_folder)
{
    path_set brought = {};
    int listed = add_archive(&brought, install_folder, runtime_archive, runtime_folder) == 0;
    for (size_t i = 0; i < PARTS_COUNT && listed; i++) {
        char archive[FILE_PATH_CAPACITY];
        snprintf(archive, sizeof archive, "%s\\%s", download_folder, PARTS[i].name);
        listed = add_archive(&brought, install_folder, archive, install_folder) == 0;
    }
    if (listed) {
        sort_path_set(&brought);
        char record[FILE_PATH_CAPACITY];
        snprintf(record, sizeof record, "%s\\%s", download_folder, RECORD_NAME);
        path_set previous = {};
        if (read_install_record(record, &previous) == 0)
            remove_stale_files(install_folder, &previous, &brought);
        free_path_set(&previous);
        write_install_record(record, &brought);
    }
    free_path_set(&brought);
}
