/* Small files read and replaced whole. */
#include "windows/whole_file.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/capacities.h"

char *read_whole_file(const char *path, size_t limit, size_t *length)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER size;
    int ok = GetFileSizeEx(file, &size) && (unsigned long long)size.QuadPart <= limit && size.QuadPart < MAXDWORD;
    char *bytes = ok ? (char *)malloc((size_t)size.QuadPart + 1) : NULL;
    DWORD read = 0;
    ok = bytes && ReadFile(file, bytes, (DWORD)size.QuadPart, &read, NULL) && read == (DWORD)size.QuadPart;
    CloseHandle(file);
    if (!ok) {
        free(bytes);
        return NULL;
    }
    bytes[read] = '\0';
    *length = read;
    return bytes;
}

static int write_new_file(const char *path, const char *bytes, size_t length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    /* On the disk before the move over the earlier file: a power cut must
     * leave the one or the other, never a new name on unwritten clusters. */
    int whole = length < MAXDWORD && WriteFile(file, bytes, (DWORD)length, &written, NULL) && written == length &&
                FlushFileBuffers(file);
    return !(CloseHandle(file) && whole);
}

int replace_whole_file(const char *path, const char *bytes, size_t length)
{
    char written_file[FILE_PATH_CAPACITY + 4];
    snprintf(written_file, sizeof written_file, "%s.new", path);
    int status = write_new_file(written_file, bytes, length) != 0 ||
                 !MoveFileExA(written_file, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (status != 0)
        DeleteFileA(written_file);
    return status;
}
