/* The course removed from this computer, as Windows' Settings > Apps asks.
 *
 * The uninstall command runs the copy of the setup kept in the install
 * folder, whose file Windows will not delete while it runs. So, as the
 * established per-user installers do, that copy claims the folder, checks
 * the course is closed, copies itself to the temporary folder and starts
 * that copy, handing it the claim and a handle to itself, then ends; the
 * copy waits for it to end and removes everything. The copy stays in the
 * temporary folder, one per install folder, replaced by the next uninstall:
 * deleting a file at the next restart needs admin rights. A copy that
 * cannot be made or started leaves everything as it was: removing all but
 * the running setup.exe would leave an entry whose every try does the same.
 *
 * The folder it removes is the one it was started from when that folder's
 * own entry names it, as when Windows runs the entry's command, whatever
 * LOCALAPPDATA says by then; the copy is handed that folder and checks it
 * the same way. */
#include "app/uninstall.h"

#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/desktop_folder.h"
#include "app/install_folder.h"
#include "app/shell_shortcut.h"
#include "app/uninstall_entry.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "windows/folder_tree.h"
#include "windows/install_guards.h"

/* Ending takes the program it replaces a moment; past this, the copy goes on
 * and names that program's file if it still cannot go. */
static const DWORD HANDOVER_WAIT_MS = 60ul * 1000;

/* The copy between quotes, the switch, a handle's value in decimal and the
 * install folder between quotes. */
enum {
    HANDOVER_COMMAND_CAPACITY = FILE_PATH_CAPACITY + 2 + sizeof UNINSTALL_SWITCH + 1 + 20 + 1 + FOLDER_CAPACITY + 1
};

/* The folder to remove: folder when its own entry in the installed apps
 * names it, else the install folder under LOCALAPPDATA. */
static void format_uninstall_folder(char install_folder[FOLDER_CAPACITY], const char *folder)
{
    if (folder && strlen(folder) < FOLDER_CAPACITY && entry_names_folder(folder))
        snprintf(install_folder, FOLDER_CAPACITY, "%s", folder);
    else
        format_install_folder(install_folder);
}

/* 1 when this program's file lies in install_folder or below. */
static int runs_from(const char *install_folder)
{
    wchar_t program[FILE_PATH_CAPACITY];
    wchar_t folder[FOLDER_CAPACITY];
    DWORD length = GetModuleFileNameW(NULL, program, FILE_PATH_CAPACITY);
    int folder_length = MultiByteToWideChar(CP_ACP, 0, install_folder, -1, folder, FOLDER_CAPACITY) - 1;
    return length > 0 && length < FILE_PATH_CAPACITY && folder_length > 0 && (int)length > folder_length &&
           program[folder_length] == L'\\' &&
           CompareStringOrdinal(program, folder_length, folder, folder_length, TRUE) == CSTR_EQUAL;
}

/* The process handle that the handing-over program passed in handover, or
 * NULL when handover names none. */
static HANDLE handing_over_process(const char *handover)
{
    if (!handover)
        return NULL;
    char *end;
    unsigned long long value = strtoull(handover, &end, 10);
    if (end == handover || *end)
        return NULL;
    /* Another process's: this one's own, or its pseudo-handle, would skip
     * the guards and then wait for itself. */
    HANDLE process = (HANDLE)(uintptr_t)value;
    DWORD id = GetProcessId(process);
    return id != 0 && id != GetCurrentProcessId() ? process : NULL;
}

/* Starts the copy of this program in the temporary folder, which inherits
 * the claim, this process's handle and its console, and is handed
 * install_folder; returns 1, saying why, when it could not be made or
 * started. */
static int hand_over(const char *install_folder, HANDLE claim)
{
    char temporary[FOLDER_CAPACITY];
    char program[FILE_PATH_CAPACITY];
    char copy[FILE_PATH_CAPACITY];
    char key[INSTALL_FOLDER_KEY_CAPACITY];
    DWORD length = GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length >= sizeof temporary) {
        say("Could not find the temporary folder: nothing was removed.");
        return 1;
    }
    format_install_folder_key(key, install_folder);
    snprintf(copy, sizeof copy, "%s%s.exe", temporary, key);
    DWORD program_length = GetModuleFileNameA(NULL, program, sizeof program);
    if (program_length == 0 || program_length >= sizeof program || !CopyFileA(program, copy, FALSE)) {
        print_text("Could not copy this setup to %s: nothing was removed.\n", copy);
        return 1;
    }
    HANDLE self;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    SetHandleInformation(claim, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    int started = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                                  SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
    if (started) {
        char command[HANDOVER_COMMAND_CAPACITY];
        snprintf(command, sizeof command, "\"%s\" %s %llu \"%s\"", copy, UNINSTALL_SWITCH,
                 (unsigned long long)(uintptr_t)self, install_folder);
        /* It starts in the temporary folder: a current folder cannot be
         * removed. */
        started = CreateProcessA(copy, command, NULL, NULL, TRUE, 0, NULL, temporary, &startup, &process);
    }
    if (!started) {
        print_text("Could not start %s: nothing was removed.\n", copy);
        return 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

/* Everything but the claim and the guards: the shortcut first, read while
 * the launcher it names is there, the entry last, so that it stays for
 * another try while anything of the course does. Finding none of the three
 * is a failure: the learner asked to remove something. */
static int remove_installation(const char *install_folder)
{
    char launcher[FILE_PATH_CAPACITY];
    char shortcut[FILE_PATH_CAPACITY];
    int removed = 0;
    snprintf(launcher, sizeof launcher, "%s\\%s", install_folder, LAUNCHER_NAME);
    if (format_shortcut_file(shortcut) == 0 && shortcut_opens(shortcut, launcher) && DeleteFileA(shortcut)) {
        print_text("Removed the shortcut %s.\n", shortcut);
        removed = 1;
    }
    if (GetFileAttributesA(install_folder) != INVALID_FILE_ATTRIBUTES) {
        if (remove_folder_tree(install_folder) != 0) {
            /* The entry stays, and so must the program its command runs. */
            keep_program_copy(install_folder);
            say("The course is not fully removed: close what uses these files, then remove it again.");
            return 1;
        }
        print_text("Removed the folder %s.\n", install_folder);
        removed = 1;
    }
    if (remove_uninstall_entry(install_folder) == 0) {
        print_text("Removed %s from the installed apps.\n", APP_PRODUCT_NAME);
        removed = 1;
    }
    if (!removed)
        print_text("Nothing to remove: %s is not installed in %s.\n", APP_PRODUCT_NAME, install_folder);
    fflush(stdout);
    return removed ? 0 : 1;
}

int run_uninstall(const char *handover, const char *handed_folder)
{
    char install_folder[FOLDER_CAPACITY];
    /* The claim came with the handles; the program that held it is ending. */
    HANDLE first = handing_over_process(handover);
    if (first) {
        format_uninstall_folder(install_folder, handed_folder);
        WaitForSingleObject(first, HANDOVER_WAIT_MS);
        CloseHandle(first);
        return remove_installation(install_folder);
    }
    char program_folder[FILE_PATH_CAPACITY];
    format_program_folder(program_folder);
    format_uninstall_folder(install_folder, program_folder);
    HANDLE claim;
    if (guard_install_folder(install_folder, &claim) != 0)
        return 1;
    int status = runs_from(install_folder) ? hand_over(install_folder, claim) : remove_installation(install_folder);
    CloseHandle(claim);
    return status;
}
