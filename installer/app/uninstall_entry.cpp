/* The course in Windows' list of installed apps: a key of its own under the
 * user's Uninstall key, named after the install folder, so that two install
 * folders of one course are two entries and each removes its own. */
#include "app/uninstall_entry.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "app/uninstall.h"
#include "common/capacities.h"
#include "common/manifest.h"
#include "windows/folder_tree.h"
#include "windows/install_guards.h"

static const char UNINSTALL_KEYS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
/* The stream in which Windows marks a file downloaded from the internet. */
static const char ZONE_STREAM[] = ":Zone.Identifier";

enum {
    ENTRY_KEY_CAPACITY = sizeof UNINSTALL_KEYS + INSTALL_FOLDER_KEY_CAPACITY,
    /* The kept program between quotes, a blank and the switch. */
    UNINSTALL_COMMAND_CAPACITY = FILE_PATH_CAPACITY + 3 + sizeof UNINSTALL_SWITCH,
    /* The kept program, a comma and the icon's index. */
    ICON_CAPACITY = FILE_PATH_CAPACITY + 2,
};

static void format_entry_key(char entry_key[ENTRY_KEY_CAPACITY], const char *install_folder)
{
    char key[INSTALL_FOLDER_KEY_CAPACITY];
    format_install_folder_key(key, install_folder);
    snprintf(entry_key, ENTRY_KEY_CAPACITY, "%s\\%s", UNINSTALL_KEYS, key);
}

static void set_text(HKEY entry, const char *name, const char *text)
{
    RegSetValueExA(entry, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

static void set_number(HKEY entry, const char *name, DWORD number)
{
    RegSetValueExA(entry, name, 0, REG_DWORD, (const BYTE *)&number, sizeof number);
}

static void write_entry(HKEY entry, const char *install_folder, const char *kept_program)
{
    set_text(entry, "DisplayName", APP_PRODUCT_NAME);
    set_text(entry, "DisplayVersion", APP_VERSION);
    if (APP_PUBLISHER[0])
        set_text(entry, "Publisher", APP_PUBLISHER);
    set_text(entry, "InstallLocation", install_folder);
    char icon[ICON_CAPACITY];
    snprintf(icon, sizeof icon, "%s,0", kept_program);
    set_text(entry, "DisplayIcon", icon);
    char command[UNINSTALL_COMMAND_CAPACITY];
    snprintf(command, sizeof command, "\"%s\" %s", kept_program, UNINSTALL_SWITCH);
    set_text(entry, "UninstallString", command);
    SYSTEMTIME today;
    GetLocalTime(&today);
    char date[sizeof "YYYYMMDD"];
    snprintf(date, sizeof date, "%04u%02u%02u", today.wYear % 10000u, today.wMonth % 100u, today.wDay % 100u);
    set_text(entry, "InstallDate", date);
    set_number(entry, "EstimatedSize", folder_size_kb(install_folder));
    /* The course has no parts to choose and nothing to repair in place: a
     * setup run again is the repair. */
    set_number(entry, "NoModify", 1);
    set_number(entry, "NoRepair", 1);
}

void format_kept_program(char kept_program[FILE_PATH_CAPACITY], const char *install_folder)
{
    snprintf(kept_program, FILE_PATH_CAPACITY, "%s\\%s", install_folder, KEPT_PROGRAM);
}

/* A program run from the install folder cannot be copied over itself, but
 * is there all the same. */
int keep_program_copy(const char *install_folder)
{
    char program[FILE_PATH_CAPACITY];
    char kept_program[FILE_PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
    format_kept_program(kept_program, install_folder);
    if (length > 0 && length < sizeof program && CopyFileA(program, kept_program, FALSE)) {
        /* The copy takes the download's mark of the web along, which would
         * have Windows warn about a program the learner installed long ago. */
        char mark[FILE_PATH_CAPACITY + sizeof ZONE_STREAM];
        snprintf(mark, sizeof mark, "%s%s", kept_program, ZONE_STREAM);
        DeleteFileA(mark);
    }
    return GetFileAttributesA(kept_program) == INVALID_FILE_ATTRIBUTES;
}

void register_installation(const char *install_folder)
{
    if (keep_program_copy(install_folder) != 0)
        return;
    char kept_program[FILE_PATH_CAPACITY];
    format_kept_program(kept_program, install_folder);
    char entry_key[ENTRY_KEY_CAPACITY];
    format_entry_key(entry_key, install_folder);
    /* Afresh: no value of an earlier version's entry stays. */
    RegDeleteKeyA(HKEY_CURRENT_USER, entry_key);
    HKEY entry;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, entry_key, 0, NULL, 0, KEY_SET_VALUE, NULL, &entry, NULL) != ERROR_SUCCESS)
        return;
    write_entry(entry, install_folder, kept_program);
    RegCloseKey(entry);
}

/* The key is the folder's digest; the entry names a folder in its
 * InstallLocation, which must have that same digest. */
int entry_names_folder(const char *folder)
{
    char entry_key[ENTRY_KEY_CAPACITY];
    char location[FOLDER_CAPACITY];
    DWORD size = sizeof location;
    format_entry_key(entry_key, folder);
    if (RegGetValueA(HKEY_CURRENT_USER, entry_key, "InstallLocation", RRF_RT_REG_SZ, NULL, location, &size) !=
        ERROR_SUCCESS)
        return 0;
    char wanted[INSTALL_FOLDER_KEY_CAPACITY];
    char named[INSTALL_FOLDER_KEY_CAPACITY];
    format_install_folder_key(wanted, folder);
    format_install_folder_key(named, location);
    return strcmp(wanted, named) == 0;
}

int remove_uninstall_entry(const char *install_folder)
{
    char entry_key[ENTRY_KEY_CAPACITY];
    format_entry_key(entry_key, install_folder);
    return RegDeleteKeyA(HKEY_CURRENT_USER, entry_key) == ERROR_SUCCESS ? 0 : 1;
}
