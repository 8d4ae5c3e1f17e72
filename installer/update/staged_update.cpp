/* An update staged beside the installation, then put in place whole. */
#include "update/staged_update.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/console.h"
#include "common/manifest.h"
#include "update/clean_update.h"
#include "update/install_record.h"
#include "update/staged_moves.h"
#include "windows/free_space.h"
#include "windows/long_path.h"
#include "zip/file_check.h"
#include "zip/zip_entries.h"

/* What marks the update's copy of a file the learner changed. */
static const wchar_t NEW_MARK[] = L".new";

void format_staged_folder(char out[FILE_PATH_CAPACITY], const char *install_folder, const char *folder)
{
    size_t length = strlen(install_folder);
    const char *rest = strncmp(folder, install_folder, length) == 0 ? folder + length : "";
    snprintf(out, FILE_PATH_CAPACITY, "%s\\%s%s", install_folder, STAGING_FOLDER, rest);
}

/* What the archive's files take on the disk, unpacked; 1 when its central
 * directory cannot be read through. */
static int unpacked_bytes(const char *archive, unsigned long long *bytes)
{
    zip_directory directory;
    int status = open_zip_directory(archive, &directory);
    uint32_t position = 0;
    zip_entry entry;
    for (uint32_t i = 0; status == 0 && i < directory.count; i++)
        if ((status = next_zip_entry(&directory, &position, &entry)) == 0)
            *bytes += on_disk(entry.check.size);
    close_zip_directory(&directory);
    return status;
}

int room_to_stage(const char *install_folder, const char *download_folder, const char *runtime_archive)
{
    unsigned long long bytes = 0;
    int read = unpacked_bytes(runtime_archive, &bytes) == 0;
    for (size_t i = 0; i < PARTS_COUNT && read; i++) {
        char archive[FILE_PATH_CAPACITY];
        snprintf(archive, sizeof archive, "%s\\%s", download_folder, PARTS[i].name);
        read = unpacked_bytes(archive, &bytes) == 0;
    }
    /* An archive that cannot be read fails its unpacking, which says so. */
    return read && room_for(install_folder, bytes, "the course's files") != 0;
}

/* Whether relative, a file of brought, is in folder (both below the install
 * folder): the runtime's and the download folder's files are never the
 * learner's. */
static int in_folder(const wchar_t *relative, const wchar_t *folder)
{
    size_t length = wcslen(folder);
    return _wcsnicmp(relative, folder, length) == 0 && relative[length] == L'\\';
}

/* Whether the installed copy at path no longer holds what the record says
 * the installation before brought, nor what this one brings: the learner's
 * own work. A copy that cannot be read is not taken for it. */
static int changed_by_learner(const wchar_t *path, const path_set *previous, const wchar_t *relative,
                              const file_check *bringing)
{
    size_t at = path_index(previous, relative);
    file_check found;
    if (at == previous->count || !previous->checks[at].known || check_file(path, &found) != 0)
        return 0;
    const file_check *brought = &previous->checks[at].file;
    return (found.size != brought->size || found.crc != brought->crc) &&
           (found.size != bringing->size || found.crc != bringing->crc);
}

/* relative with the mark before the last name's extension: lessons\ex1.py
 * as lessons\ex1.new.py, README as README.new. */
static int marked_name(const wchar_t *relative, wchar_t *out, size_t capacity)
{
    const wchar_t *name = wcsrchr(relative, L'\\');
    name = name ? name + 1 : relative;
    const wchar_t *dot = wcsrchr(name, L'.');
    size_t stem = dot && dot > name ? (size_t)(dot - relative) : wcslen(relative);
    int length = _snwprintf(out, capacity, L"%.*ls%ls%ls", (int)stem, relative, NEW_MARK, relative + stem);
    return length < 0 || (size_t)length >= capacity;
}

static void say_kept(const wchar_t *relative, const wchar_t *marked)
{
    char own[FILE_PATH_CAPACITY], update[FILE_PATH_CAPACITY];
    if (WideCharToMultiByte(CP_ACP, 0, relative, -1, own, sizeof own, NULL, NULL) != 0 &&
        WideCharToMultiByte(CP_ACP, 0, marked, -1, update, sizeof update, NULL, NULL) != 0)
        print_text("Kept your own %s; this update's version of it is %s.\n", own, update);
}

/* The install folder and its staging folder, in the \\?\ form, the runtime
 * and download folders below the install folder, and the paths a plan works
 * on: too large for the stack. */
typedef struct {
    wchar_t installed[LONG_PATH_UNITS], staging[LONG_PATH_UNITS];
    wchar_t runtime[FILE_PATH_CAPACITY], downloads[FILE_PATH_CAPACITY];
    wchar_t from[LONG_PATH_UNITS], to[LONG_PATH_UNITS], marked[LONG_PATH_UNITS];
} plan_paths;

static int join(wchar_t out[LONG_PATH_UNITS], const wchar_t *folder, const wchar_t *relative)
{
    int length = _snwprintf(out, LONG_PATH_UNITS, L"%ls\\%ls", folder, relative);
    return length < 0 || length >= LONG_PATH_UNITS;
}

/* Adds to moves each file of brought that the staging folder holds, the
 * learner's own ones renamed there to their marked names, and those to
 * beside. 0, or 1 when memory runs out or a staged file cannot be renamed. */
static int plan_moves(const path_set *brought, const path_set *previous, plan_paths *paths, path_set *moves,
                      path_set *beside)
{
    for (size_t i = 0; i < brought->count; i++) {
        const wchar_t *relative = brought->text + brought->starts[i];
        const file_check *check = &brought->checks[i].file;
        /* The archives themselves were put in place when they downloaded. */
        if (!brought->checks[i].known || in_folder(relative, paths->downloads))
            continue;
        if (join(paths->from, paths->installed, relative) != 0)
            return 1;
        if (in_folder(relative, paths->runtime) || !changed_by_learner(paths->from, previous, relative, check)) {
            if (add_path(moves, L"", relative, wcslen(relative), check) != 0)
                return 1;
            continue;
        }
        if (marked_name(relative, paths->marked, LONG_PATH_UNITS) != 0 ||
            join(paths->from, paths->staging, relative) != 0 || join(paths->to, paths->staging, paths->marked) != 0 ||
            !MoveFileExW(paths->from, paths->to, MOVEFILE_REPLACE_EXISTING) ||
            add_path(moves, L"", paths->marked, wcslen(paths->marked), check) != 0 ||
            add_path(beside, L"", relative, wcslen(relative), NULL) != 0)
            return 1;
    }
    return 0;
}

/* The record to move in: brought, and what previous names that brought
 * does not, with what it held, for clean_update to remove; staged at
 * staged_record, and added to moves with its check. */
static int stage_record(const path_set *brought, const path_set *previous, const char *record_relative,
                        const char *staged_record, path_set *moves)
{
    path_set record = {};
    int status = 0;
    for (size_t i = 0; status == 0 && i < brought->count; i++)
        status = add_path(&record, L"", brought->text + brought->starts[i], wcslen(brought->text + brought->starts[i]),
                          brought->checks[i].known ? &brought->checks[i].file : NULL);
    for (size_t i = 0; status == 0 && i < previous->count; i++) {
        const wchar_t *path = previous->text + previous->starts[i];
        if (!path_in_set(brought, path))
            status = add_path(&record, L"", path, wcslen(path), previous->checks[i].known ? &previous->checks[i].file : NULL);
    }
    wchar_t relative[FILE_PATH_CAPACITY], staged[FILE_PATH_CAPACITY];
    file_check check;
    if (status == 0) {
        sort_path_set(&record);
        status = write_install_record(staged_record, &record) != 0 ||
                 MultiByteToWideChar(CP_ACP, 0, staged_record, -1, staged, FILE_PATH_CAPACITY) == 0 ||
                 check_file(staged, &check) != 0 ||
                 MultiByteToWideChar(CP_ACP, 0, record_relative, -1, relative, FILE_PATH_CAPACITY) == 0 ||
                 add_path(moves, L"", relative, wcslen(relative), &check) != 0;
    }
    free_path_set(&record);
    return status;
}

int put_staged_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                      const char *runtime_folder)
{
    char staging[FILE_PATH_CAPACITY], record[FILE_PATH_CAPACITY], staged_record[FILE_PATH_CAPACITY];
    char staged_download[FILE_PATH_CAPACITY];
    format_staged_folder(staging, install_folder, install_folder);
    format_record_file(record, download_folder);
    format_staged_folder(staged_record, install_folder, record);
    format_staged_folder(staged_download, install_folder, download_folder);
    CreateDirectoryA(staged_download, NULL);
    path_set brought = {}, previous = {}, moves = {}, beside = {};
    plan_paths *paths = (plan_paths *)malloc(sizeof *paths);
    size_t below = strlen(install_folder) + 1;
    int status = !paths || long_path_form(install_folder, paths->installed, LONG_PATH_UNITS) == 0 ||
                 long_path_form(staging, paths->staging, LONG_PATH_UNITS) == 0 ||
                 MultiByteToWideChar(CP_ACP, 0, runtime_folder + below, -1, paths->runtime, FILE_PATH_CAPACITY) == 0 ||
                 MultiByteToWideChar(CP_ACP, 0, download_folder + below, -1, paths->downloads, FILE_PATH_CAPACITY) ==
                     0 ||
                 list_brought(&brought, install_folder, download_folder, runtime_archive, runtime_folder, staging) != 0;
    /* Without an earlier record, or with one that cannot be read whole,
     * nothing tells a learner's change: the update's files go in. */
    if (status == 0 && read_install_record(record, &previous) != 0)
        free_path_set(&previous);
    sort_path_set(&previous);
    status = status || plan_moves(&brought, &previous, paths, &moves, &beside) != 0 ||
             stage_record(&brought, &previous, record + below, staged_record, &moves) != 0;
    if (status != 0) {
        say("Could not stage the update in the install folder; nothing was changed.");
    } else {
        sort_path_set(&moves);
        status = apply_moves(install_folder, &moves);
    }
    /* Folders an archive brings empty (a course may write into them) have
     * no file to move: they are made, as their unpacking would. */
    for (size_t i = 0; status == 0 && i < brought.count; i++) {
        const wchar_t *relative = brought.text + brought.starts[i];
        if (!brought.checks[i].known && join(paths->from, paths->installed, relative) == 0)
            make_folders_above(paths->from, wcslen(paths->installed));
    }
    for (size_t i = 0; status == 0 && i < beside.count; i++) {
        const wchar_t *relative = beside.text + beside.starts[i];
        if (marked_name(relative, paths->marked, LONG_PATH_UNITS) == 0)
            say_kept(relative, paths->marked);
    }
    fflush(stdout);
    free(paths);
    free_path_set(&brought);
    free_path_set(&previous);
    free_path_set(&moves);
    free_path_set(&beside);
    return status;
}
