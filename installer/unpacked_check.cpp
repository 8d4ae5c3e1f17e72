/* Whether an archive came out whole, entry by entry. */
#include "unpacked_check.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "capacities.h"
#include "file_check.h"
#include "path_set.h"
#include "zip_entries.h"

/* The longest path the \\?\ form reaches, in UTF-16 units. */
enum { LONG_PATH_UNITS = 32768 };

/* The \\?\ form of a folder's full path (no 260-unit limit for what lies
 * under it), into out; its length, or 0 when it does not fit. */
static size_t long_form(const char *folder, wchar_t *out, size_t capacity)
{
    wchar_t given[FOLDER_CAPACITY], full[FOLDER_CAPACITY];
    if (MultiByteToWideChar(CP_ACP, 0, folder, -1, given, FOLDER_CAPACITY) == 0)
        return 0;
    DWORD length = GetFullPathNameW(given, FOLDER_CAPACITY, full, NULL);
    if (length == 0 || length >= FOLDER_CAPACITY)
        return 0;
    /* A share's \\server\share becomes \\?\UNC\server\share. */
    int share = full[0] == L'\\' && full[1] == L'\\';
    int written = _snwprintf(out, capacity, share ? L"\\\\?\\UNC\\%ls" : L"\\\\?\\%ls", full + (share ? 2 : 0));
    return written < 0 || (size_t)written >= capacity ? 0 : (size_t)written;
}

int check_unpacked(const char *archive, const char *destination)
{
    path_set entries = {};
    wchar_t *path = (wchar_t *)malloc(LONG_PATH_UNITS * sizeof *path);
    size_t base = path ? long_form(destination, path, LONG_PATH_UNITS) : 0;
    int status = base == 0 || add_zip_entries(&entries, archive, L"") != 0;
    for (size_t i = 0; i < entries.count && status == 0; i++) {
        const wchar_t *name = entries.text + entries.starts[i];
        size_t length = wcslen(name);
        if (base + 1 + length >= LONG_PATH_UNITS) {
            status = 1;
            break;
        }
        path[base] = L'\\';
        wcscpy(path + base + 1, name);
        const path_check *expected = &entries.checks[i];
        file_check found;
        if (!expected->known) {
            path[base + length] = L'\0'; /* the folder's own name, without its final separator */
            DWORD attributes = GetFileAttributesW(path);
            status = attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        } else {
            status = check_file(path, &found) != 0 || found.size != expected->file.size ||
                     found.crc != expected->file.crc;
        }
    }
    free_path_set(&entries);
    free(path);
    return status;
}
