/* What a shortcut on the Desktop opens, read through the shell's own
 * shortcut object: the file's format is the shell's to define. */
#include "shortcut_target.h"

#include <windows.h>
#include <shlobj.h>

#include "capacities.h"

/* CLSID_ShellLink, IID_IShellLinkW and IID_IPersistFile, spelled out here:
 * the library that defines them holds every GUID of the SDK in one object,
 * which would nearly double the program. */
static const CLSID SHELL_LINK = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID SHELL_LINK_W = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID PERSIST_FILE = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

/* The target of the shortcut at path into target, or "" when there is none. */
static void read_target(const wchar_t *path, wchar_t target[FILE_PATH_CAPACITY])
{
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    target[0] = L'\0';
    if (SUCCEEDED(CoCreateInstance(SHELL_LINK, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_W, (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(PERSIST_FILE, (void **)&file)) && SUCCEEDED(file->Load(path, STGM_READ)) &&
        FAILED(link->GetPath(target, FILE_PATH_CAPACITY, NULL, SLGP_RAWPATH)))
        target[0] = L'\0';
    if (file)
        file->Release();
    if (link)
        link->Release();
}

int shortcut_opens(const char *shortcut_file, const char *target)
{
    wchar_t path[FILE_PATH_CAPACITY];
    wchar_t expected[FILE_PATH_CAPACITY];
    wchar_t found[FILE_PATH_CAPACITY];
    if (MultiByteToWideChar(CP_ACP, 0, shortcut_file, -1, path, FILE_PATH_CAPACITY) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, target, -1, expected, FILE_PATH_CAPACITY) == 0 ||
        GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return 0;
    /* A console program pumps no messages, which only the multithreaded
     * apartment does without. */
    HRESULT com = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    read_target(path, found);
    if (SUCCEEDED(com))
        CoUninitialize();
    return found[0] && CompareStringOrdinal(found, -1, expected, -1, TRUE) == CSTR_EQUAL;
}
