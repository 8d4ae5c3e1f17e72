/* The PowerShell command lines that unpack an archive and make a shortcut. */
#include "powershell_command.h"

#include <windows.h>
#include <stdio.h>

/* Paths reach us at up to 1400 bytes; doubled and rendered back in any ANSI
 * code page (UTF-8 included) they stay within these. */
enum { PATH_CHARS = 1400, QUOTED_BYTES = 6 * PATH_CHARS + 1 };

static int is_powershell_single_quote(wchar_t c)
{
    /* ' and the typographic quotes PowerShell accepts in its place. */
    return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

/* Works on UTF-16 because which bytes make a typographic quote depends on the
 * ANSI code page; the round trip is exact for text that came from it. */
static void double_single_quotes(const char *path, char out[QUOTED_BYTES])
{
    wchar_t wide[PATH_CHARS + 1];
    wchar_t doubled[2 * PATH_CHARS + 1];
    out[0] = '\0';
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, PATH_CHARS + 1) == 0)
        return;
    int n = 0;
    for (int i = 0; wide[i] != 0; i++) {
        if (is_powershell_single_quote(wide[i]))
            doubled[n++] = wide[i];
        doubled[n++] = wide[i];
    }
    doubled[n] = 0;
    if (WideCharToMultiByte(CP_ACP, 0, doubled, -1, out, QUOTED_BYTES, NULL, NULL) == 0)
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

void format_extraction_command(char *out, size_t capacity, const char *archive, const char *destination)
{
    char quoted_archive[QUOTED_BYTES];
    char quoted_destination[QUOTED_BYTES];
    double_single_quotes(archive, quoted_archive);
    double_single_quotes(destination, quoted_destination);
    snprintf(out, capacity,
             "powershell -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -LiteralPath '%s' "
             "-DestinationPath '%s' -Force\"",
             quoted_archive, quoted_destination);
}

void format_shortcut_command(char *out, size_t capacity, const char *shortcut, const char *target,
                             const char *working_folder)
{
    char quoted_shortcut[QUOTED_BYTES];
    char quoted_target[QUOTED_BYTES];
    char quoted_folder[QUOTED_BYTES];
    double_single_quotes(shortcut, quoted_shortcut);
    double_single_quotes(target, quoted_target);
    double_single_quotes(working_folder, quoted_folder);
    snprintf(out, capacity,
             "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object -ComObject "
             "WScript.Shell).CreateShortcut('%s');$s.TargetPath='%s';$s.WorkingDirectory='%s';$s.Save()\"",
             quoted_shortcut, quoted_target, quoted_folder);
}
