/* The PowerShell command lines that unpack an archive and make a shortcut.
 *
 * Each path goes between single quotes with every character that PowerShell
 * reads as a single quote doubled, its own escape, so that a folder such as
 * C:\Users\O'Brien works and no folder name can end the literal early and run
 * code. A command longer than capacity is cut to capacity - 1 bytes. */
#ifndef QUILLBY_POWERSHELL_COMMAND_H
#define QUILLBY_POWERSHELL_COMMAND_H

#include <stddef.h>

/* The full path of Windows PowerShell in the system folder, in path (of
 * MAX_PATH bytes), or NULL when it is not there. Nothing else will do: a
 * search for it would look first beside the installer, in Downloads, and run
 * whatever powershell.exe a web page left there. */
const char *powershell_program(char *path);

void format_extraction_command(char *out, size_t capacity, const char *archive, const char *destination);

void format_shortcut_command(char *out, size_t capacity, const char *shortcut, const char *target,
                             const char *working_folder);

#endif
