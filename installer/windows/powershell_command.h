/* The PowerShell command lines that unpack an archive and make a shortcut.
 *
 * Each path goes between single quotes with every character that PowerShell
 * reads as a single quote doubled, its own escape, so that a folder such as
 * C:\Users\O'Brien works and no folder name can end the literal early and run
 * code. Each command's buffer is sized from its text and the paths that go
 * into it, so a command is never run cut short. */
#ifndef QUILLBY_POWERSHELL_COMMAND_H
#define QUILLBY_POWERSHELL_COMMAND_H

#include "common/capacities.h"

/* Each %s stands for one quoted path. Windows PowerShell 5.1's Expand-Archive
 * draws a progress record per entry, window or not, which makes an archive of
 * thousands of files take minutes; the module-qualified name runs the inbox
 * cmdlet even where another module defines an Expand-Archive of its own. */
static const char EXTRACTION_COMMAND[] =
    "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$ProgressPreference='SilentlyContinue';"
    "Microsoft.PowerShell.Archive\\Expand-Archive -LiteralPath '%s' -DestinationPath '%s' -Force\"";
/* The fourth %s is the icon's statement, or nothing for a course without
 * an icon. */
static const char SHORTCUT_COMMAND[] =
    "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object -ComObject "
    "WScript.Shell).CreateShortcut('%s');$s.TargetPath='%s';$s.WorkingDirectory='%s';%s$s.Save()\"";
/* The icon's file as the one %s: its first icon. */
static const char SHORTCUT_ICON_STATEMENT[] = "$s.IconLocation='%s,0';";

/* The text, less its "%s" pairs, plus that many quoted paths (the icon's
 * statement standing for one). */
enum {
    EXTRACTION_COMMAND_CAPACITY = sizeof EXTRACTION_COMMAND - 2 * 2 + 2 * (QUOTED_PATH_CAPACITY - 1),
    SHORTCUT_ICON_STATEMENT_CAPACITY = sizeof SHORTCUT_ICON_STATEMENT - 2 + QUOTED_PATH_CAPACITY - 1,
    SHORTCUT_COMMAND_CAPACITY =
        sizeof SHORTCUT_COMMAND - 4 * 2 + 3 * (QUOTED_PATH_CAPACITY - 1) + SHORTCUT_ICON_STATEMENT_CAPACITY - 1,
};
/* CreateProcess takes at most 32,767 characters. */
static_assert(EXTRACTION_COMMAND_CAPACITY <= 32767 && SHORTCUT_COMMAND_CAPACITY <= 32767,
              "a command line CreateProcess cannot run");

/* The full path of Windows PowerShell in the system folder, in path (of
 * MAX_PATH bytes), or NULL when it is not there. Nothing else will do: a
 * search for it would look first beside the installer, in Downloads, and run
 * whatever powershell.exe a web page left there. */
const char *powershell_program(char *path);

/* archive and destination: paths of less than FILE_PATH_CAPACITY bytes. */
void format_extraction_command(char out[EXTRACTION_COMMAND_CAPACITY], const char *archive, const char *destination);

/* shortcut, target, working_folder and icon_file (NULL: no icon of its
 * own): paths of less than FILE_PATH_CAPACITY bytes. */
void format_shortcut_command(char out[SHORTCUT_COMMAND_CAPACITY], const char *shortcut, const char *target,
                             const char *working_folder, const char *icon_file);

#endif
