/* An installation over an earlier one leaves nothing of it stale: the
 * record each installation keeps of what its archives brought tells the
 * lessons and runtime files a new version dropped from what the learner
 * wrote, which stays. */
#include "update/clean_update.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "common/capacities.h"
#include "common/manifest.h"
#include "update/install_record.h"
#include "update/stale_files.h"
#include "zip/file_check.h"
#include "zip/path_set.h"
#include "zip/zip_entries.h"

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
    wchar_t archive_path[FILE_PATH_CAPACITY], folder[FILE_PATH_CAPACITY + 1] = L"", wide[FILE_PATH_CAPACITY];
    file_check check;
    int archive_units = below(install_folder, archive, archive_path);
    if (archive_units == 0 || MultiByteToWideChar(CP_ACP, 0, archive, -1, wide, FILE_PATH_CAPACITY) == 0 ||
        check_file(wide, &check) != 0 || add_path(set, L"", archive_path, (size_t)archive_units - 1, &check) != 0)
        return 1;
    if (strcmp(destination, install_folder) != 0) {
        int folder_units = below(install_folder, destination, folder);
        if (folder_units == 0)
            return 1;
        wcscpy(folder + folder_units - 1, L"\\");
    }
    return add_zip_entries(set, archive, folder);
}

/* The runtime's path files, which the setup extends once they are unpacked,
 * are recorded as it left them (under root): what an update may take for
 * unchanged. */
static void recheck_path_files(path_set *set, const char *install_folder, const char *runtime_folder,
                               const char *root)
{
    wchar_t runtime[FILE_PATH_CAPACITY], path[FOLDER_CAPACITY + FILE_PATH_CAPACITY];
    int runtime_units = below(install_folder, runtime_folder, runtime);
    int base = MultiByteToWideChar(CP_ACP, 0, root, -1, path, FOLDER_CAPACITY);
    for (size_t i = 0; runtime_units > 0 && base > 0 && i < set->count; i++) {
        const wchar_t *relative = set->text + set->starts[i], *name = relative + runtime_units;
        size_t length = wcslen(relative);
        if (_wcsnicmp(relative, runtime, (size_t)runtime_units - 1) == 0 && relative[runtime_units - 1] == L'\\' &&
            !wcschr(name, L'\\') && length > 5 && _wcsicmp(relative + length - 5, L"._pth") == 0) {
            path[base - 1] = L'\\';
            wcscpy(path + base, relative);
            set->checks[i].known = check_file(path, &set->checks[i].file) == 0;
        }
    }
}

/* Removes what previous brought and brought does not, and writes the new
 * record: brought and what could not be removed yet. The earlier record
 * stays when that cannot be told whole. */
static void replace_record(const char *record, const char *install_folder, path_set *brought)
{
    path_set previous = {}, kept = {};
    /* Without an earlier record (a first installation, or one made before
     * there were records) there is nothing to remove; with one that cannot
     * be read, nothing can be told, and it stays for a later update. */
    int first = GetFileAttributesA(record) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
    int whole = first || (read_install_record(record, &previous) == 0 &&
                          remove_stale_files(install_folder, &previous, brought, &kept) == 0);
    for (size_t i = 0; i < kept.count && whole; i++) {
        const wchar_t *path = kept.text + kept.starts[i];
        whole = add_path(brought, L"", path, wcslen(path), &kept.checks[i].file) == 0;
    }
    if (whole) {
        sort_path_set(brought);
        write_install_record(record, brought);
    }
    free_path_set(&previous);
    free_path_set(&kept);
}

int list_brought(path_set *brought, const char *install_folder, const char *download_folder,
                 const char *runtime_archive, const char *runtime_folder, const char *root)
{
    int listed = add_archive(brought, install_folder, runtime_archive, runtime_folder) == 0;
    for (size_t i = 0; i < PARTS_COUNT && listed; i++) {
        char archive[FILE_PATH_CAPACITY];
        snprintf(archive, sizeof archive, "%s\\%s", download_folder, PARTS[i].name);
        listed = add_archive(brought, install_folder, archive, install_folder) == 0;
    }
    if (!listed)
        return 1;
    sort_path_set(brought);
    recheck_path_files(brought, install_folder, runtime_folder, root);
    return 0;
}

void format_record_file(char record[FILE_PATH_CAPACITY], const char *download_folder)
{
    snprintf(record, FILE_PATH_CAPACITY, "%s\\%s", download_folder, RECORD_NAME);
}

void clean_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                  const char *runtime_folder)
{
    path_set brought = {};
    if (list_brought(&brought, install_folder, download_folder, runtime_archive, runtime_folder, install_folder) ==
        0) {
        char record[FILE_PATH_CAPACITY];
        format_record_file(record, download_folder);
        replace_record(record, install_folder, &brought);
    }
    free_path_set(&brought);
}
