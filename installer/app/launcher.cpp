/* The last steps of an installation: launcher script, desktop shortcut, start. */
#include "app/launcher.h"

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include "app/course_start.h"
#include "app/desktop_folder.h"
#include "app/shell_shortcut.h"
#include "app/uninstall_entry.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "windows/powershell_command.h"
#include "windows/run_hidden.h"

/* Saving one shortcut takes PowerShell seconds; past this, it is stuck. */
static const unsigned long SHORTCUT_TIME_LIMIT_MS = 5ul * 60 * 1000;

/* The script runs the program kept in the install folder, whatever folder
 * the shortcut or the shell starts it in: that program waits for the course
 * to answer before the browser asks for it, and says why when it cannot.
 * Lines end in CR LF for cmd.exe. */
static void write_launcher(const char *launcher_file)
{
    FILE *file = fopen(launcher_file, "wb");
    if (!file)
        return;
    fputs("@echo off\r\n", file);
    fputs("cd /d \"%~dp0\"\r\n", file);
    fprintf(file, "%s %s\r\n", KEPT_PROGRAM, START_SWITCH);
    fclose(file);
}

void finish_install(const char *install_folder, int open_course)
{
    char launcher_file[FILE_PATH_CAPACITY];
    snprintf(launcher_file, sizeof launcher_file, "%s\\%s", install_folder, LAUNCHER_NAME);
    write_launcher(launcher_file);

    char shortcut_file[FILE_PATH_CAPACITY];
    if (format_shortcut_file(shortcut_file) == 0) {
        char command[SHORTCUT_COMMAND_CAPACITY];
        char powershell[MAX_PATH];
        /* The course's icon is the first of the program kept there. */
        char kept_program[FILE_PATH_CAPACITY];
        format_kept_program(kept_program, install_folder);
        const char *icon_file = COURSE_HAS_ICON ? kept_program : NULL;
        format_shortcut_command(command, shortcut_file, launcher_file, install_folder, icon_file);
        /* Where PowerShell cannot, the shell's own object makes the same
         * shortcut; a missing one leaves the course installed and startable. */
        if (run_hidden(powershell_program(powershell), command, install_folder, SHORTCUT_TIME_LIMIT_MS) != 0 ||
            GetFileAttributesA(shortcut_file) == INVALID_FILE_ATTRIBUTES)
            save_shortcut(shortcut_file, launcher_file, install_folder, icon_file, 0);
    }

    if (!open_course) {
        say("Install complete.");
        return;
    }
    say("Install complete. Opening the course...");
    ShellExecuteA(NULL, "open", launcher_file, NULL, install_folder, SW_HIDE);
}
