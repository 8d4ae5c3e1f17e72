/* Stand-in for Windows PowerShell, which Wine does not have, put in a Wine
   prefix by the tests and by author/build-course --try. It accepts only the
   two commands Quillby setup runs -- Expand-Archive of a zip and a
   WScript.Shell shortcut -- and really carries them out, so an installation
   under Wine gets the files, errors and exit codes Windows PowerShell 5.1
   would give, never a better outcome: entries skipped with status 0 where
   it skips them, the archive module refused where Group Policy turned
   scripts off, Constrained Language Mode. Each command line is logged first
   so tests can check exactly what was asked. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/shell_shortcut.h"
#include "error_record.h"
#include "expand_archive.h"

enum {
    MAX_TEXT = 32768, /* the longest command line or path Windows accepts, plus the terminator */
    MAX_LITERALS = 4
};

static const char COMMAND_PREFIX[] = " -NoProfile -ExecutionPolicy Bypass -Command \"";

enum command_kind { EXPAND_ARCHIVE, CREATE_SHORTCUT };

/* A command is fixed text with a quoted literal between each two pieces. */
struct command_form {
    command_kind kind;
    int literal_count;
    const char *text[MAX_LITERALS + 1];
};

static const command_form COMMAND_FORMS[] = {
    {EXPAND_ARCHIVE,
     2,
     {"$ProgressPreference='SilentlyContinue';Microsoft.PowerShell.Archive\\Expand-Archive -LiteralPath ",
      " -DestinationPath ", " -Force"}},
    {CREATE_SHORTCUT,
     3,
     {"$s=(New-Object -ComObject WScript.Shell).CreateShortcut(", ");$s.TargetPath=", ";$s.WorkingDirectory=",
      ";$s.Save()"}},
    {CREATE_SHORTCUT,
     4,
     {"$s=(New-Object -ComObject WScript.Shell).CreateShortcut(", ");$s.TargetPath=", ";$s.WorkingDirectory=",
      ";$s.IconLocation=", ";$s.Save()"}},
};

static int append_line(const char *path, const char *line)
{
    FILE *file = fopen(path, "ab");
    if (!file)
        return 0;
    int ok = fprintf(file, "%s\n", line) >= 0;
    return fclose(file) == 0 && ok;
}

/* Bytes taken by the single-quote character at text, or 0. PowerShell counts
   U+2018..U+201B as single quotes too; they arrive here in UTF-8. */
static size_t quote_length(const char *text)
{
    const unsigned char *bytes = (const unsigned char *)text;
    if (bytes[0] == '\'')
        return 1;
    if (bytes[0] == 0xE2 && bytes[1] == 0x80 && bytes[2] >= 0x98 && bytes[2] <= 0x9B)
        return 3;
    return 0;
}

/* Reads a single-quoted literal into value (which must hold strlen(text) + 1
   bytes) and returns what follows it, or NULL. Two quote characters in a row
   stand for the first of them, whichever kinds they are. */
static const char *parse_literal(const char *text, char *value)
{
    size_t length = 0;
    size_t quote = quote_length(text);
    if (quote == 0)
        return NULL;
    text += quote;
    while (*text != '\0') {
        quote = quote_length(text);
        if (quote == 0) {
            value[length++] = *text++;
            continue;
        }
        size_t next = quote_length(text + quote);
        if (next == 0) {
            value[length] = '\0';
            return text + quote;
        }
        memcpy(value + length, text, quote);
        length += quote;
        text += quote + next;
    }
    return NULL;
}

static int match_command(const char *body, const command_form *form, char values[][MAX_TEXT])
{
    for (int piece = 0;; piece++) {
        size_t length = strlen(form->text[piece]);
        if (strncmp(body, form->text[piece], length) != 0)
            return 0;
        body += length;
        if (piece == form->literal_count)
            return *body == '\0';
        body = parse_literal(body, values[piece]);
        if (!body)
            return 0;
    }
}

/* Copies into body the command between the quotes after -Command. Paths
   cannot hold '"', so any other '"' means a command this stand-in does not
   know. */
static int extract_command_body(const char *command_line, char *body)
{
    const char *rest;
    if (command_line[0] == '"') {
        rest = strchr(command_line + 1, '"');
        if (!rest)
            return 0;
        rest++;
    } else {
        rest = command_line + strcspn(command_line, " \t");
    }
    size_t prefix_length = strlen(COMMAND_PREFIX);
    if (strncmp(rest, COMMAND_PREFIX, prefix_length) != 0)
        return 0;
    rest += prefix_length;
    size_t length = strlen(rest);
    if (length == 0 || length >= MAX_TEXT || rest[length - 1] != '"')
        return 0;
    memcpy(body, rest, length - 1);
    body[length - 1] = '\0';
    return strchr(body, '"') == NULL;
}

static int ends_with_ignoring_case(const char *text, const char *suffix)
{
    size_t text_length = strlen(text), suffix_length = strlen(suffix);
    return text_length >= suffix_length && _stricmp(text + text_length - suffix_length, suffix) == 0;
}

/* Does what WScript.Shell's CreateShortcut and Save do underneath, through
   the setup's own shell shortcut: the paths are narrow text of the UTF-8
   code page this program runs in. */
static int create_shortcut(const char *link, const char *target, const char *directory, char *icon_location)
{
    /* WScript.Shell makes an Internet shortcut for .url and refuses other names */
    if (!ends_with_ignoring_case(link, ".lnk")) {
        printf("CreateShortcut: '%s' does not end with .lnk\n", link);
        return 0;
    }
    /* IconLocation is "FILE,INDEX"; the shortcut keeps what it is given. */
    char *comma = icon_location ? strrchr(icon_location, ',') : NULL;
    if (comma)
        *comma = '\0';
    if (save_shortcut(link, target, directory, icon_location, comma ? atoi(comma + 1) : 0) != 0) {
        printf("CreateShortcut: cannot save '%s'\n", link);
        return 0;
    }
    return 1;
}

/* Where no lockdown policy is installed, Windows PowerShell takes one from
   the system-wide environment variable __PSLockdownPolicy, read from the
   registry as .NET reads a machine variable (a string; any other type counts
   as unset): the enforce flag (4) without the audit flag (8) runs every
   session in Constrained Language Mode, as AppLocker, WDAC and Smart App
   Control do. Modules under System32, Microsoft.PowerShell.Archive among
   them, stay trusted and run in full. */
static int constrained_language_mode()
{
    wchar_t value[32];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                     L"__PSLockdownPolicy", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, value,
                     &size) != ERROR_SUCCESS)
        return 0;
    unsigned long state = wcstoul(value, NULL, 10);
    return (state & 8) == 0 && (state & 4) != 0;
}

static const wchar_t POLICY_KEY[] = L"Software\\Policies\\Microsoft\\Windows\\PowerShell";

/* A policy value as PowerShell compares it, through .NET's ToString(): a
   number in decimal, a string as it is. Returns ERROR_SUCCESS with text
   holding it, ERROR_FILE_NOT_FOUND where it is not there. */
static LSTATUS policy_text(HKEY scope, const wchar_t *name, wchar_t *text, DWORD units)
{
    DWORD number, size = sizeof number;
    if (RegGetValueW(scope, POLICY_KEY, name, RRF_RT_REG_DWORD, NULL, &number, &size) == ERROR_SUCCESS) {
        swprintf(text, units, L"%lu", number);
        return ERROR_SUCCESS;
    }
    size = units * sizeof(wchar_t);
    return RegGetValueW(scope, POLICY_KEY, name, RRF_RT_REG_SZ, NULL, text, &size);
}

/* Group Policy's "Turn on Script Execution" as Windows PowerShell 5.1 reads
   it, the computer's setting before the user's, either overriding
   -ExecutionPolicy: EnableScripts 0 (the setting disabled) means Restricted,
   and 1 the policy that ExecutionPolicy names, any name it does not know
   meaning Restricted too; without them the scope sets nothing. Returns 1
   where the policy keeps the archive module's script (.psm1) from loading:
   Restricted, and AllSigned, which loads a signed script only from a
   publisher the machine trusts and otherwise asks, in a window nobody sees. */
static int scripts_turned_off()
{
    static const HKEY SCOPES[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    static const wchar_t *const LOADING[] = {L"Unrestricted", L"RemoteSigned", L"Bypass"};
    for (HKEY scope : SCOPES) {
        wchar_t enabled[16], policy[64];
        if (policy_text(scope, L"EnableScripts", enabled, 16) != ERROR_SUCCESS)
            continue;
        if (wcscmp(enabled, L"0") == 0)
            return 1;
        if (wcscmp(enabled, L"1") != 0)
            continue;
        LSTATUS named = policy_text(scope, L"ExecutionPolicy", policy, 64);
        if (named == ERROR_FILE_NOT_FOUND)
            continue;
        for (const wchar_t *name : LOADING)
            if (named == ERROR_SUCCESS && _wcsicmp(policy, name) == 0)
                return 0;
        return 1;
    }
    return 0;
}

int main()
{
    /* PowerShell reads its command line in UTF-16, whatever the ANSI code
       page of the program that started it; log and parse that, as UTF-8. */
    char command_line[MAX_TEXT];
    if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, command_line, sizeof command_line, NULL, NULL) == 0) {
        printf("powershell stand-in: command line too long\n");
        return 1;
    }
    const char *log = getenv("QUILLBY_POWERSHELL_LOG");
    if (log && log[0] != '\0' && !append_line(log, command_line)) {
        printf("powershell stand-in: cannot append to the log '%s'\n", log);
        return 1;
    }
    const char *fail = getenv("QUILLBY_POWERSHELL_FAIL");
    if (fail && strcmp(fail, "1") == 0) {
        printf("powershell stand-in: failing on purpose (QUILLBY_POWERSHELL_FAIL=1)\n");
        return 1;
    }

    char body[MAX_TEXT];
    char values[MAX_LITERALS][MAX_TEXT];
    if (!extract_command_body(command_line, body)) {
        printf("powershell stand-in: unsupported command line: %s\n", command_line);
        return 1;
    }
    for (size_t form = 0; form < sizeof COMMAND_FORMS / sizeof COMMAND_FORMS[0]; form++) {
        if (!match_command(body, &COMMAND_FORMS[form], values))
            continue;
        if (COMMAND_FORMS[form].kind == EXPAND_ARCHIVE && scripts_turned_off()) {
            error_record record = {L"Microsoft.PowerShell.Archive\\Expand-Archive",
                                   L"The module 'Microsoft.PowerShell.Archive' could not be loaded. For more "
                                   L"information, run 'Import-Module Microsoft.PowerShell.Archive'.",
                                   L"ObjectNotFound",
                                   L"Microsoft.PowerShell.Archive\\Expand-Archive",
                                   L"String",
                                   L"",
                                   L"CommandNotFoundException",
                                   L"CouldNotAutoLoadModule"};
            write_error(&record);
            return 1;
        }
        if (COMMAND_FORMS[form].kind == EXPAND_ARCHIVE)
            return expand_archive(values[0], values[1]);
        /* The statements after New-Object fail on its null result too, so
           the session ends with status 1. */
        if (constrained_language_mode()) {
            printf("New-Object : Cannot create type. Only core types are supported in this language mode.\n"
                   "    + CategoryInfo          : PermissionDenied: (:) [New-Object], PSNotSupportedException\n"
                   "    + FullyQualifiedErrorId : CannotCreateComTypeConstrainedLanguage,"
                   "Microsoft.PowerShell.Commands.NewObjectCommand\n");
            return 1;
        }
        char *icon_location = COMMAND_FORMS[form].literal_count == 4 ? values[3] : NULL;
        return create_shortcut(values[0], values[1], values[2], icon_location) ? 0 : 1;
    }
    printf("powershell stand-in: unsupported command: %s\n", body);
    return 1;
}
