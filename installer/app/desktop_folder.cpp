/* Where the learner's Desktop really is: the shell's answer, which follows
 * the folder's redirection in the registry, against the place the Desktop
 * has when nothing moved it. */
#include "app/desktop_folder.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/manifest.h"

/* FOLDERID_Desktop, spelled out here: the library that defines it holds
 * every GUID of the SDK in one object, which would nearly double the
 * program. */
static const KNOWNFOLDERID DESKTOP_FOLDER = {
    0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};

/* The Desktop's path as the shell names it with flags, or NULL; the caller
 * frees it with CoTaskMemFree. */
static wchar_t *desktop_path(DWORD flags)
{
    wchar_t *path = NULL;
    if (FAILED(SHGetKnownFolderPath(DESKTOP_FOLDER, flags, NULL, &path))) {
        CoTaskMemFree(path);
        return NULL;
    }
    return path;
}

int moved_desktop_folder(char *folder, size_t capacity)
{
    /* The current path is checked to exist; the default one need not. */
    wchar_t *current = desktop_path(0);
    wchar_t *unmoved = desktop_path(KF_FLAG_DEFAULT_PATH | KF_FLAG_DONT_VERIFY);
    /* A path the ANSI code page cannot spell would name another folder. The
     * UTF-8 code page spells every path, and takes no such flag. */
    BOOL lossy = FALSE;
    int moved = current && unmoved && CompareStringOrdinal(current, -1, unmoved, -1, TRUE) != CSTR_EQUAL &&
                WideCharToMultiByte(CP_ACP, 0, current, -1, folder, (int)capacity, NULL,
                                    GetACP() == CP_UTF8 ? NULL : &lossy) > 0 &&
                !lossy;
    CoTaskMemFree(current);
    CoTaskMemFree(unmoved);
    return moved ? 0 : 1;
}

int format_shortcut_file(char shortcut_file[FILE_PATH_CAPACITY])
{
    char desktop[FOLDER_CAPACITY];
    if (moved_desktop_folder(desktop, sizeof desktop) == 0) {
        snprintf(shortcut_file, FILE_PATH_CAPACITY, "%s\\%s", desktop, SHORTCUT_NAME);
        return 0;
    }
    const char *profile = getenv("USERPROFILE");
    if (!profile)
        return 1;
    snprintf(shortcut_file, FILE_PATH_CAPACITY, "%s\\Desktop\\%s", profile, SHORTCUT_NAME);
    return 0;
}
