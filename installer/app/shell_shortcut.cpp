/* Desktop shortcuts through the shell's own link object, whose file format
 * is the shell's to define. It makes the shortcut where PowerShell may not:
 * in Constrained Language Mode (AppLocker, WDAC, Smart App Control)
 * New-Object refuses every COM class. */
#include "app/shell_shortcut.h"

#include <windows.h>
#include <shlobj.h>

#include "common/capacities.h"

/* CLSID_ShellLink, IID_IShellLinkW and IID_IPersistFile, spelled out here:
 * the library that defines them holds every GUID of the SDK in one object,
 * which would nearly double the program. */
static const CLSID SHELL_LINK_CLASS = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID SHELL_LINK_INTERFACE = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID PERSIST_FILE_INTERFACE = {0x0000010B, 0x0000, 0x0000,
                                           {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

static int to_wide(const char *text, wchar_t wide[FILE_PATH_CAPACITY])
{
    /* A path has no more characters than bytes. */
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, FILE_PATH_CAPACITY) != 0;
}

/* A link object and its file interface in *link and *file, COM started for
 * them (*com); end_link releases whatever was had. A console program pumps
 * no messages, which only the multithreaded apartment does without. */
static HRESULT start_link(IShellLinkW **link, IPersistFile **file, int *com)
{
    *link = NULL;
    *file = NULL;
    HRESULT result = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    *com = SUCCEEDED(result);
    if (FAILED(result))
        return result;
    result = CoCreateInstance(SHELL_LINK_CLASS, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_INTERFACE, (void **)link);
    if (SUCCEEDED(result))
        result = (*link)->QueryInterface(PERSIST_FILE_INTERFACE, (void **)file);
    return result;
}

static void end_link(IShellLinkW *link, IPersistFile *file, int com)
{
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (com)
        CoUninitialize();
}

int save_shortcut(const char *shortcut_file, const char *target, const char *working_folder, const char *icon_file,
                  int icon_index)
{
    wchar_t wide_shortcut[FILE_PATH_CAPACITY], wide_target[FILE_PATH_CAPACITY], wide_folder[FILE_PATH_CAPACITY];
    wchar_t wide_icon[FILE_PATH_CAPACITY];
    if (!to_wide(shortcut_file, wide_shortcut) || !to_wide(target, wide_target) ||
        !to_wide(working_folder, wide_folder) || (icon_file && !to_wide(icon_file, wide_icon)))
        return 1;
    IShellLinkW *link;
    IPersistFile *file;
    int com;
    HRESULT result = start_link(&link, &file, &com);
    if (SUCCEEDED(result))
        result = link->SetPath(wide_target);
    if (SUCCEEDED(result))
        result = link->SetWorkingDirectory(wide_folder);
    if (SUCCEEDED(result) && icon_file)
        result = link->SetIconLocation(wide_icon, icon_index);
    if (SUCCEEDED(result))
        result = file->Save(wide_shortcut, TRUE);
    end_link(link, file, com);
    return SUCCEEDED(result) ? 0 : 1;
}

int shortcut_opens(const char *shortcut_file, const char *target)
{
    wchar_t path[FILE_PATH_CAPACITY], expected[FILE_PATH_CAPACITY], found[FILE_PATH_CAPACITY];
    if (!to_wide(shortcut_file, path) || !to_wide(target, expected) ||
        GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return 0;
    IShellLinkW *link;
    IPersistFile *file;
    int com;
    HRESULT result = start_link(&link, &file, &com);
    if (SUCCEEDED(result))
        result = file->Load(path, STGM_READ);
    if (SUCCEEDED(result))
        result = link->GetPath(found, FILE_PATH_CAPACITY, NULL, SLGP_RAWPATH);
    end_link(link, file, com);
    return result == S_OK && CompareStringOrdinal(found, -1, expected, -1, TRUE) == CSTR_EQUAL;
}
