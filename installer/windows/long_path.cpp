/* The \\?\ form of a folder's path. */
#include "windows/long_path.h"

#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#include "common/capacities.h"

void make_folders_above(wchar_t *path, size_t base_length)
{
    for (wchar_t *at = path + base_length + 1; (at = wcschr(at, L'\\')) != NULL; *at++ = L'\\') {
        *at = L'\0';
        CreateDirectoryW(path, NULL);
    }
}

size_t long_path_form(const char *folder, wchar_t *out, size_t capacity)
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
