/* One archive into the download folder: from beside the setup when a copy
 * there passes its pin, else from its address. A teacher's USB stick or a
 * school share holding the setup and its archives so installs with no
 * network; the copies there are only ever read. */
#include "download/fetch_archive.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "common/capacities.h"
#include "download/download.h"

int format_file_beside(const char *folder, const char *url, char beside[FILE_PATH_CAPACITY])
{
    const char *name = strrchr(url, '/');
    name = name ? name + 1 : url;
    int name_length = (int)strcspn(name, "?#");
    if (name_length == 0)
        return 1;
    int length = snprintf(beside, FILE_PATH_CAPACITY, "%s\\%.*s", folder, name_length, name);
    return length < 0 || length >= FILE_PATH_CAPACITY;
}

/* The file in folder named as url's last segment into beside; 0 when there
 * is one and it is not path itself (run from the download folder, the copy
 * would truncate its own source). */
static int archive_beside(const char *folder, const char *url, const char *path, char beside[FILE_PATH_CAPACITY])
{
    if (format_file_beside(folder, url, beside) != 0 || _stricmp(beside, path) == 0)
        return 1;
    DWORD attributes = GetFileAttributesA(beside);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int take_from_beside(const char *folder, const char *url, const char *path, const char *expected,
                     const char *label)
{
    char beside[FILE_PATH_CAPACITY];
    return archive_beside(folder, url, path, beside) != 0 || copy_and_verify(beside, path, expected, label) != 0;
}

int fetch_archive(const char *url, const char *path, const char *expected, const char *label)
{
    char folder[FOLDER_CAPACITY];
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof folder);
    char *last = length > 0 && length < sizeof folder ? strrchr(folder, '\\') : NULL;
    if (last) {
        *last = '\0';
        if (take_from_beside(folder, url, path, expected, label) == 0)
            return 0;
    }
    return download_and_verify(url, path, expected, label);
}
