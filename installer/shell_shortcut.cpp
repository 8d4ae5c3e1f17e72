/* A desktop shortcut made through the shell's own link object, for where
 * PowerShell may not create it: in Constrained Language Mode (AppLocker,
 * WDAC, Smart App Control) New-Object refuses every COM class. */
#include "shell_shortcut.h"

#include <windows.h>
#include <shlobj.h>

#include "capacities.h"

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

int save_shortcut(const char *shortcut_file, const char *target, const char *working_folder)
{
    wchar_t wide_shortcut[FILE_PATH_CAPACITY], wide_target[FILE_PATH_CAPACITY], wide_folder[FILE_PATH_CAPACITY];
    if (!to_wide(shortcut_file, wide_shortcut) || !to_wide(target, wide_target) ||
        !to_wide(working_folder, wide_folder))
        return 1;
    /* A console program pumps no messages, which only the multithreaded
     * apartment does without. */
    HRESULT result = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(result))
        return 1;
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    result = CoCreateInstance(SHELL_LINK_CLASS, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_INTERFACE, (void **)&link);
    if (SUCCEEDED(result))
        result = link->SetPath(wide_target);
    if (SUCCEEDED(result))
        result = link->SetWorkingDirectory(wide_folder);
    if (SUCCEEDED(result))
        result = link->QueryInterface(PERSIST_FILE_INTERFACE, (void **)&file);
    if (SUCCEEDED(result))
        result = file->Save(wide_shortcut, TRUE);
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    return SUCCEEDED(result) ? 0 : 1;
}
