/* Whether an archive came out whole, entry by entry. */
#include "zip/unpacked_check.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "windows/long_path.h"
#include "zip/file_check.h"
#include "zip/path_set.h"
#include "zip/zip_entries.h"

int check_unpacked(const char *archive, const char *destination)
{
    path_set entries = {};
    wchar_t *path = (wchar_t *)malloc(LONG_PATH_UNITS * sizeof *path);
    size_t base = path ? long_path_form(destination, path, LONG_PATH_UNITS) : 0;
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
