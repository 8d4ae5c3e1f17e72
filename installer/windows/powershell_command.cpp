/* The PowerShell command lines that unpack an archive and make a shortcut. */
#include "windows/powershell_command.h"

#include <windows.h>
#include <stdio.h>

static int is_powershell_single_quote(wchar_t c)
{
    /* ' and the typographic quotes PowerShell accepts in its place. */
    return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

/* Works on UTF-16 because which bytes make a typographic quote depends on the
 * ANSI code page; the round trip is exact for text that came from it. */
static void double_single_quotes(const char *path, char out[QUOTED_PATH_CAPACITY])
{
    /* A path has no more characters than bytes. */
    wchar_t wide[FILE_PATH_CAPACITY];
    wchar_t doubled[2 * FILE_PATH_CAPACITY];
    out[0] = '\0';
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, FILE_PATH_CAPACITY) == 0)
        return;
    int n = 0;
    for (int i = 0; wide[i] != 0; i++) {
        if (is_powershell_single_quote(wide[i]))
            doubled[n++] = wide[i];
        doubled[n++] = wide[i];
    }
    doubled[n] = 0;
    if (WideCharToMultiByte(CP_ACP, 0, doubled, -1, out, QUOTED_PATH_CAPACITY, NULL, NULL) == 0)
        out[0] = '\0';
}

const char *powershell_program(char *path)
{
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return NULL;
    snprintf(path + length, MAX_PATH - length, "\\WindowsPowerShell\\v1.0\\powershell.exe");
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? NULL : path;
}

void format_extraction_command(char out[EXTRACTION_COMMAND_CAPACITY], const char *archive, const char *destination)
{
    char quoted_archive[QUOTED_PATH_CAPACITY];
    char quoted_destination[QUOTED_PATH_CAPACITY];
    double_single_quotes(archive, quoted_archive);
    double_single_quotes(destination, quoted_destination);
    snprintf(out, EXTRACTION_COMMAND_CAPACITY, EXTRACTION_COMMAND, quoted_archive, quoted_destination);
}

void format_shortcut_command(char out[SHORTCUT_COMMAND_CAPACITY], const char *shortcut, const char *target,
                             const char *working_folder, const char *icon_file)
{
    char quoted_shortcut[QUOTED_PATH_CAPACITY];
    char quoted_target[QUOTED_PATH_CAPACITY];
    char quoted_folder[QUOTED_PATH_CAPACITY];
    char icon_statement[SHORTCUT_ICON_STATEMENT_CAPACITY] = "";
    double_single_quotes(shortcut, quoted_shortcut);
    double_single_quotes(target, quoted_target);
    double_single_quotes(working_folder, quoted_folder);
    if (icon_file) {
        char quoted_icon[QUOTED_PATH_CAPACITY];
        double_single_quotes(icon_file, quoted_icon);
        snprintf(icon_statement, sizeof icon_statement, SHORTCUT_ICON_STATEMENT, quoted_icon);
    }
    snprintf(out, SHORTCUT_COMMAND_CAPACITY, SHORTCUT_COMMAND, quoted_shortcut, quoted_target, quoted_folder,
             icon_statement);
}
