/* Removing what an earlier installation's archives brought and a new one's
 * do not: the lessons a course dropped, the files of a runtime replaced. */
#include "update/stale_files.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/capacities.h"
#include "windows/long_path.h"

/* path: the install folder, a backslash from base on, then a path of the
 * set's form. Whether each thing it passes through is there and none is a
 * reparse point; *attributes gets the last one's. */
static int is_plain_way(wchar_t *path, size_t base, DWORD *attributes)
{
    for (wchar_t *at = path + base + 1;; at++) {
        if (*at != L'\\' && *at != L'\0')
            continue;
        wchar_t kept = *at;
        *at = L'\0';
        *attributes = GetFileAttributesW(path);
        *at = kept;
        if (*attributes == INVALID_FILE_ATTRIBUTES || *attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return 0;
        if (kept == L'\0' || at[1] == L'\0')
            return 1;
    }
}

/* Removes the stale file or folder path names (as is_plain_way gives it),
 * then the folders above it that are left empty and current does not name.
 * Returns 0, or 1 for a file with a check that could not be removed, or not
 * read to tell whether it still holds what the check says: a program writing
 * it (Node, Java) may let it be deleted but not read, and may have changed
 * it. */
static int remove_stale(wchar_t *path, size_t base, const path_check *check, const path_set *current)
{
    DWORD attributes;
    if (!is_plain_way(path, base, &attributes))
        return 0;
    wchar_t *end = path + wcslen(path);
    file_check now;
    if (end[-1] == L'\\') {
        *--end = L'\0';
        if (!RemoveDirectoryW(path))
            return 0;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !check->known) {
        return 0;
    } else if (check_file(path, &now) != 0) {
        return 1;
    } else if (now.size != check->file.size || now.crc != check->file.crc) {
        return 0;
    } else if (!DeleteFileW(path)) {
        return 1;
    }
    for (;;) {
        while (end[-1] != L'\\')
            end--;
        if (end - 1 == path + base)
            return 0;
        *end = L'\0';
        if (path_in_set(current, path + base + 1))
            return 0;
        *--end = L'\0';
        if (!RemoveDirectoryW(path))
            return 0;
    }
}

int remove_stale_files(const char *install_folder, const path_set *previous, const path_set *current,
                       path_set *kept)
{
    /* The \\?\ form: a package's files lie deep, past 260 units. */
    wchar_t folder[FOLDER_CAPACITY + 8];
    size_t base = long_path_form(install_folder, folder, sizeof folder / sizeof *folder), longest = 0;
    if (base == 0)
        return 0;
    for (size_t i = 0; i < previous->count; i++) {
        size_t length = wcslen(previous->text + previous->starts[i]);
        longest = length > longest ? length : longest;
    }
    wchar_t *path = (wchar_t *)malloc((base + longest + 2) * sizeof *path);
    if (!path)
        return 1;
    wmemcpy(path, folder, base);
    path[base] = L'\\';
    int status = 0;
    for (size_t i = 0; i < previous->count; i++) {
        const wchar_t *relative = previous->text + previous->starts[i];
        if (path_in_set(current, relative))
            continue;
        wcscpy(path + base + 1, relative);
        if (remove_stale(path, base, &previous->checks[i], current) != 0)
            status |= add_path(kept, L"", relative, wcslen(relative), &previous->checks[i].file);
    }
    free(path);
    return status;
}
