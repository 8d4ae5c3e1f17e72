/* The install folder's tree, measured and removed without ever following a
 * link out of it: a junction or symbolic link in the install folder may
 * point at the learner's own files, which are none of the course's.
 *
 * One path buffer serves the whole walk: each level appends its entry's name
 * and cuts it off again, so the stack holds one listing per level, not one
 * path. */
#include "folder_tree.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "capacities.h"
#include "console.h"

/* Appends a backslash and name to the path of length length; 1 when the
 * result would not fit (the path is left as it was). */
static int extend(char path[FILE_PATH_CAPACITY], size_t length, const char *name)
{
    int written = snprintf(path + length, FILE_PATH_CAPACITY - length, "\\%s", name);
    if (written < 0 || (size_t)written >= FILE_PATH_CAPACITY - length) {
        path[length] = '\0';
        return 1;
    }
    return 0;
}

static int is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

/* The listing of the folder at path, or INVALID_HANDLE_VALUE; path is left
 * as it was. */
static HANDLE first_entry(char path[FILE_PATH_CAPACITY], size_t length, WIN32_FIND_DATAA *entry)
{
    if (extend(path, length, "*") != 0)
        return INVALID_HANDLE_VALUE;
    HANDLE listing = FindFirstFileA(path, entry);
    path[length] = '\0';
    return listing;
}

static unsigned long long tree_bytes(char path[FILE_PATH_CAPACITY], size_t length)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = first_entry(path, length, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long long bytes = 0;
    do {
        if (is_dot_entry(entry.cFileName) || entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bytes += (unsigned long long)entry.nFileSizeHigh << 32 | entry.nFileSizeLow;
        else if (extend(path, length, entry.cFileName) == 0)
            bytes += tree_bytes(path, strlen(path));
        path[length] = '\0';
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return bytes;
}

unsigned long folder_size_kb(const char *folder)
{
    char path[FILE_PATH_CAPACITY];
    snprintf(path, sizeof path, "%s", folder);
    return (unsigned long)((tree_bytes(path, strlen(path)) + 1023) / 1024);
}

static int remove_entry(char path[FILE_PATH_CAPACITY], size_t length, DWORD attributes);

/* Removes what the folder at path holds; 1 when something stays. */
static int empty_folder(char path[FILE_PATH_CAPACITY], size_t length)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = first_entry(path, length, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    int status = 0;
    do {
        if (is_dot_entry(entry.cFileName))
            continue;
        if (extend(path, length, entry.cFileName) != 0) {
            print_text("Could not remove %s\\%s.\n", path, entry.cFileName);
            status = 1;
            continue;
        }
        status |= remove_entry(path, strlen(path), entry.dwFileAttributes);
        path[length] = '\0';
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return status;
}

/* A link's own attributes are left alone: setting them could reach what it
 * points at. A folder that keeps an entry which was already named is not
 * named again. */
static int remove_entry(char path[FILE_PATH_CAPACITY], size_t length, DWORD attributes)
{
    int link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!link && empty_folder(path, length) != 0)
            return 1;
        if (RemoveDirectoryA(path))
            return 0;
    } else if (DeleteFileA(path)) {
        return 0;
    }
    print_text("Could not remove %s.\n", path);
    return 1;
}

int remove_folder_tree(const char *folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    char path[FILE_PATH_CAPACITY];
    snprintf(path, sizeof path, "%s", folder);
    int status = remove_entry(path, strlen(path), attributes);
    fflush(stdout);
    return status;
}
