/* The install folder's tree, measured and removed without ever following a
 * link out of it: a junction or symbolic link in the install folder may
 * point at the learner's own files, which are none of the course's.
 *
 * The walk lists and removes with the wide-character calls and the prefix
 * \\?\, so each name is used as it is on disk. A narrow listing holds no
 * name of more than 259 bytes, and in an ANSI code page other than UTF-8
 * (Windows before 1903 ignores the manifest's) it gives the nearest
 * character it has for one it lacks: a folder x\..\..\Documents whose
 * backslashes are fullwidth ones (U+FF3C) is listed as x\..\..\Documents, a
 * way out of the tree. Without the prefix a path stops at 260 characters
 * and loses a name's trailing dots and blanks, naming another file or none.
 *
 * One path buffer serves the whole walk: each level appends its entry's name
 * and cuts it off again, so the stack holds one listing per level, not one
 * path. Each listing takes some 700 bytes of the program's 2 MB stack, so
 * the walk goes no deeper than DEEPEST levels, which no course or learner
 * nests folders to: what lies deeper is not counted, and stays, named, when
 * the tree is removed, rather than crashing the program. */
#include "windows/folder_tree.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/console.h"
#include "windows/long_path.h"

enum { DEEPEST = 1000 };

/* One walk, too large for the stack: the path it is at, and how the caller
 * spelled the folder, to name what stays. */
typedef struct {
    wchar_t path[LONG_PATH_UNITS];
    size_t root; /* where the part below the folder starts in path */
    const char *folder;
    char text[3 * LONG_PATH_UNITS]; /* that part as narrow text, at most three bytes a unit */
} tree_walk;

/* A walk at folder, its path in the \\?\ form; NULL when it cannot be made.
 * Released with free. */
static tree_walk *start_walk(const char *folder)
{
    tree_walk *walk = (tree_walk *)malloc(sizeof *walk);
    if (!walk)
        return NULL;
    walk->root = long_path_form(folder, walk->path, LONG_PATH_UNITS);
    walk->folder = folder;
    if (walk->root != 0)
        return walk;
    free(walk);
    return NULL;
}

/* Appends a backslash and name to the path of length length; 1 when the
 * result would not fit (the path is left as it was). */
static int extend(tree_walk *walk, size_t length, const wchar_t *name)
{
    size_t name_length = wcslen(name);
    if (length + 1 + name_length >= LONG_PATH_UNITS)
        return 1;
    walk->path[length] = L'\\';
    wmemcpy(walk->path + length + 1, name, name_length + 1);
    return 0;
}

static int is_dot_entry(const wchar_t *name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

/* The listing of the folder at the path of length length, or
 * INVALID_HANDLE_VALUE; the path is left as it was. */
static HANDLE first_entry(tree_walk *walk, size_t length, WIN32_FIND_DATAW *entry)
{
    if (extend(walk, length, L"*") != 0)
        return INVALID_HANDLE_VALUE;
    HANDLE listing = FindFirstFileW(walk->path, entry);
    walk->path[length] = L'\0';
    return listing;
}

/* Names the path as staying. */
static void say_kept(tree_walk *walk)
{
    WideCharToMultiByte(CP_ACP, 0, walk->path + walk->root, -1, walk->text, (int)sizeof walk->text, NULL, NULL);
    print_text("Could not remove %s%s.\n", walk->folder, walk->text);
}

static unsigned long long tree_bytes(tree_walk *walk, size_t length, int level)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = level < DEEPEST ? first_entry(walk, length, &entry) : INVALID_HANDLE_VALUE;
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long long bytes = 0;
    do {
        if (is_dot_entry(entry.cFileName) || entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bytes += (unsigned long long)entry.nFileSizeHigh << 32 | entry.nFileSizeLow;
        else if (extend(walk, length, entry.cFileName) == 0)
            bytes += tree_bytes(walk, wcslen(walk->path), level + 1);
        walk->path[length] = L'\0';
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return bytes;
}

unsigned long folder_size_kb(const char *folder)
{
    tree_walk *walk = start_walk(folder);
    unsigned long long bytes = walk ? tree_bytes(walk, walk->root, 0) : 0;
    free(walk);
    return (unsigned long)((bytes + 1023) / 1024);
}

static int remove_entry(tree_walk *walk, size_t length, DWORD attributes, int level);

/* Removes what the folder at the path holds; 1 when something stays. An
 * entry whose path would not fit, past what any call takes, stays, and the
 * folder is named for it. */
static int empty_folder(tree_walk *walk, size_t length, int level)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = first_entry(walk, length, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return 0;
    int status = 0, unfit = 0;
    do {
        if (is_dot_entry(entry.cFileName))
            continue;
        if (extend(walk, length, entry.cFileName) != 0) {
            unfit = 1;
            continue;
        }
        status |= remove_entry(walk, wcslen(walk->path), entry.dwFileAttributes, level + 1);
        walk->path[length] = L'\0';
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    if (unfit)
        say_kept(walk);
    return status | unfit;
}

/* A link's own attributes are left alone: setting them could reach what it
 * points at. A folder that keeps an entry which was already named is not
 * named again. */
static int remove_entry(tree_walk *walk, size_t length, DWORD attributes, int level)
{
    int link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(walk->path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!link && level < DEEPEST && empty_folder(walk, length, level) != 0)
            return 1;
        if (RemoveDirectoryW(walk->path))
            return 0;
    } else if (DeleteFileW(walk->path)) {
        return 0;
    }
    say_kept(walk);
    return 1;
}

int remove_folder_tree(const char *folder)
{
    tree_walk *walk = start_walk(folder);
    if (!walk) {
        print_text("Could not remove %s.\n", folder);
        fflush(stdout);
        return 1;
    }
    DWORD attributes = GetFileAttributesW(walk->path);
    int status = attributes == INVALID_FILE_ATTRIBUTES ? 0 : remove_entry(walk, walk->root, attributes, 0);
    free(walk);
    fflush(stdout);
    return status;
}

/* Removes the bytecode files of the cache folder at the path, then the
 * folder if that emptied it. */
static void remove_cache(tree_walk *walk, size_t length)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = first_entry(walk, length, &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        size_t name_length = wcslen(entry.cFileName);
        if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            name_length > 4 && _wcsicmp(entry.cFileName + name_length - 4, L".pyc") == 0 &&
            extend(walk, length, entry.cFileName) == 0) {
            DeleteFileW(walk->path);
            walk->path[length] = L'\0';
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    RemoveDirectoryW(walk->path);
}

static void remove_caches_below(tree_walk *walk, size_t length, int level)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = level < DEEPEST ? first_entry(walk, length, &entry) : INVALID_HANDLE_VALUE;
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        if (is_dot_entry(entry.cFileName) || entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ||
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || extend(walk, length, entry.cFileName) != 0)
            continue;
        if (_wcsicmp(entry.cFileName, L"__pycache__") == 0)
            remove_cache(walk, wcslen(walk->path));
        else
            remove_caches_below(walk, wcslen(walk->path), level + 1);
        walk->path[length] = L'\0';
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

void remove_python_caches(const char *folder)
{
    tree_walk *walk = start_walk(folder);
    if (walk)
        remove_caches_below(walk, walk->root, 0);
    free(walk);
}
