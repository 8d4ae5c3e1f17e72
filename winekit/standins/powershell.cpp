/* Stand-in for Windows PowerShell, which Wine does not have, put in a Wine
   prefix by the tests and by author/build-course --try. It accepts only the
   two commands Quillby setup runs -- Expand-Archive of a zip and a
   WScript.Shell shortcut -- and really carries them out, so an installation
   under Wine gets the files and exit codes the real PowerShell would give,
   in Constrained Language Mode too. Each command line is logged first so
   tests can check exactly what was asked. */
#include <windows.h>
#include <shlobj.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_check.h"
#include "inflate.h"
#include "shell_shortcut.h"

enum {
    MAX_TEXT = 32768, /* the longest command line or path Windows accepts, plus the terminator */
    MAX_LITERALS = 4,
    LOCAL_HEADER_SIZE = 30,
    CENTRAL_HEADER_SIZE = 46,
    END_RECORD_SIZE = 22,
    FLAG_ENCRYPTED = 0x0001,
    FLAG_UTF8_NAME = 0x0800,
    METHOD_STORED = 0,
    METHOD_DEFLATED = 8,
    CODE_PAGE_IBM437 = 437 /* what zip names are in unless flagged UTF-8 */
};

static const uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
static const uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
static const uint32_t END_RECORD_SIGNATURE = 0x06054b50;

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

struct zip_entry {
    const unsigned char *data; /* the stored or compressed bytes */
    uint32_t compressed_size;
    uint32_t size;
    uint32_t crc;
    unsigned method;
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

static int to_wide(const char *utf8, wchar_t *wide)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, MAX_TEXT) != 0;
}

static int ends_with_ignoring_case(const char *text, const char *suffix)
{
    size_t text_length = strlen(text), suffix_length = strlen(suffix);
    return text_length >= suffix_length && _stricmp(text + text_length - suffix_length, suffix) == 0;
}

static uint32_t read16(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t read32(const unsigned char *bytes)
{
    return read16(bytes) | read16(bytes + 2) << 16;
}

static unsigned char *read_whole_file(const wchar_t *path, size_t *size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER file_size;
    unsigned char *data = NULL;
    DWORD read = 0;
    /* a zip without Zip64 records, the only kind handled here, is under 4 GiB */
    if (GetFileSizeEx(file, &file_size) && file_size.HighPart == 0 &&
        (data = (unsigned char *)malloc(file_size.LowPart + 1)) != NULL &&
        !(ReadFile(file, data, file_size.LowPart, &read, NULL) && read == file_size.LowPart)) {
        free(data);
        data = NULL;
    }
    CloseHandle(file);
    *size = read;
    return data;
}

static int write_whole_file(const wchar_t *path, const unsigned char *data, size_t size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    int ok = WriteFile(file, data, (DWORD)size, &written, NULL) && written == size;
    return CloseHandle(file) && ok;
}

/* Refuses names that would land outside the destination ("zip slip"). */
static int is_safe_entry_name(const wchar_t *name)
{
    if (name[0] == L'\0' || name[0] == L'/' || name[0] == L'\\' || wcschr(name, L':'))
        return 0;
    for (const wchar_t *segment = name;; segment++) {
        size_t length = wcscspn(segment, L"/\\");
        if (length == 2 && segment[0] == L'.' && segment[1] == L'.')
            return 0;
        segment += length;
        if (*segment == L'\0')
            return 1;
    }
}

/* Finds the entry's bytes through its local header; the sizes and CRC come
   from the central directory, as the local ones may be deferred. */
static int locate_entry_data(const unsigned char *archive, size_t data_end, const unsigned char *header,
                             zip_entry *entry)
{
    size_t local = read32(header + 42);
    if (local > data_end || data_end - local < LOCAL_HEADER_SIZE || read32(archive + local) != LOCAL_HEADER_SIGNATURE)
        return 0;
    size_t start = local + LOCAL_HEADER_SIZE + read16(archive + local + 26) + read16(archive + local + 28);
    entry->compressed_size = read32(header + 20);
    entry->size = read32(header + 24);
    entry->crc = read32(header + 16);
    entry->method = read16(header + 10);
    entry->data = archive + start;
    return start <= data_end && data_end - start >= entry->compressed_size;
}

/* Returns the entry's content, checked against its size and CRC, or NULL
   with *problem saying why. Free the result if it is not entry->data. */
static const unsigned char *unpack_entry(const zip_entry *entry, const char **problem)
{
    const unsigned char *content = entry->data;
    if (entry->method == METHOD_STORED) {
        if (entry->compressed_size != entry->size) {
            *problem = "a stored entry whose compressed and unpacked sizes differ";
            return NULL;
        }
    } else if (entry->method == METHOD_DEFLATED) {
        unsigned char *buffer = (unsigned char *)malloc((size_t)entry->size + 1);
        size_t produced = 0;
        if (!buffer || !inflate_raw(entry->data, entry->compressed_size, buffer, entry->size, &produced) ||
            produced != entry->size) {
            free(buffer);
            *problem = "compressed data is corrupt or does not match its size";
            return NULL;
        }
        content = buffer;
    } else {
        *problem = "unsupported compression method (only stored and deflated are handled)";
        return NULL;
    }
    if (crc32_update(0, content, entry->size) != entry->crc) {
        if (content != entry->data)
            free((void *)content);
        *problem = "CRC-32 does not match";
        return NULL;
    }
    return content;
}

/* Creates the entry's folders and, unless it names a folder, its file. */
static int extract_entry(const wchar_t *destination, const wchar_t *name, const zip_entry *entry, const char *shown_name)
{
    wchar_t path[MAX_TEXT];
    if (!is_safe_entry_name(name)) {
        printf("Expand-Archive: entry '%s' would be written outside the destination\n", shown_name);
        return 0;
    }
    size_t destination_length = wcslen(destination);
    const wchar_t *separator = destination[destination_length - 1] == L'\\' ? L"" : L"\\";
    if (destination_length + 1 + wcslen(name) >= MAX_TEXT) {
        printf("Expand-Archive: the path for entry '%s' is too long\n", shown_name);
        return 0;
    }
    wcscpy(path, destination);
    wcscat(path, separator);
    wcscat(path, name);
    for (wchar_t *c = path; *c; c++)
        if (*c == L'/')
            *c = L'\\';
    wchar_t *last_separator = wcsrchr(path, L'\\');
    *last_separator = L'\0';
    int status = SHCreateDirectoryExW(NULL, path, NULL);
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) {
        printf("Expand-Archive: cannot create the folder for entry '%s' (error %d)\n", shown_name, status);
        return 0;
    }
    *last_separator = L'\\';
    if (last_separator[1] == L'\0')
        return 1;
    const char *problem;
    const unsigned char *content = unpack_entry(entry, &problem);
    if (!content) {
        printf("Expand-Archive: entry '%s': %s\n", shown_name, problem);
        return 0;
    }
    int written = write_whole_file(path, content, entry->size);
    if (content != entry->data)
        free((void *)content);
    if (!written)
        printf("Expand-Archive: cannot write entry '%s' (error %lu)\n", shown_name, GetLastError());
    return written;
}

/* The end record closes the file, followed only by its comment. */
static const unsigned char *find_end_record(const unsigned char *archive, size_t size)
{
    if (size < END_RECORD_SIZE)
        return NULL;
    for (size_t at = size - END_RECORD_SIZE;; at--) {
        if (read32(archive + at) == END_RECORD_SIGNATURE && at + END_RECORD_SIZE + read16(archive + at + 20) == size)
            return archive + at;
        if (at == 0)
            return NULL;
    }
}

/* Walks the central directory, which is the authority on what the archive
   holds, and extracts each entry in order. */
static int extract_archive(const unsigned char *archive, size_t size, const wchar_t *destination, const char *shown)
{
    const unsigned char *record = find_end_record(archive, size);
    if (!record) {
        printf("Expand-Archive: '%s' is not a zip archive\n", shown);
        return 0;
    }
    uint32_t count = read16(record + 10), directory_size = read32(record + 12), directory = read32(record + 16);
    if (read16(record + 4) != 0 || read16(record + 6) != 0 || read16(record + 8) != count) {
        printf("Expand-Archive: '%s' is a multi-part archive, which is not supported\n", shown);
        return 0;
    }
    if (count == 0xFFFF || directory == 0xFFFFFFFF) {
        printf("Expand-Archive: '%s' is a Zip64 archive, which is not supported\n", shown);
        return 0;
    }
    size_t directory_end = (size_t)(record - archive);
    if (directory > directory_end || directory_end - directory < directory_size) {
        printf("Expand-Archive: the central directory of '%s' is corrupt\n", shown);
        return 0;
    }
    size_t position = directory;
    for (uint32_t index = 0; index < count; index++) {
        const unsigned char *header = archive + position;
        char name[MAX_TEXT];
        wchar_t wide_name[MAX_TEXT];
        zip_entry entry;
        size_t name_length = 0, header_length = 0;
        if (directory_end - position >= CENTRAL_HEADER_SIZE && read32(header) == CENTRAL_HEADER_SIGNATURE) {
            name_length = read16(header + 28);
            header_length = CENTRAL_HEADER_SIZE + name_length + read16(header + 30) + read16(header + 32);
        }
        if (header_length == 0 || directory_end - position < header_length ||
            !locate_entry_data(archive, directory, header, &entry)) {
            printf("Expand-Archive: the central directory of '%s' is corrupt at entry %u\n", shown,
                   (unsigned)index + 1);
            return 0;
        }
        snprintf(name, sizeof name, "%.*s", (int)name_length, (const char *)header + CENTRAL_HEADER_SIZE);
        unsigned flags = read16(header + 8);
        UINT code_page = flags & FLAG_UTF8_NAME ? CP_UTF8 : CODE_PAGE_IBM437;
        if (strlen(name) != name_length || !MultiByteToWideChar(code_page, 0, name, -1, wide_name, MAX_TEXT)) {
            printf("Expand-Archive: entry %u of '%s' has an unusable name\n", (unsigned)index + 1, shown);
            return 0;
        }
        if (flags & FLAG_ENCRYPTED) {
            printf("Expand-Archive: entry '%s' is encrypted, which is not supported\n", name);
            return 0;
        }
        if (!extract_entry(destination, wide_name, &entry, name))
            return 0;
        position += header_length;
    }
    return 1;
}

static int expand_archive(const char *archive, const char *destination)
{
    wchar_t wide_archive[MAX_TEXT], wide_destination[MAX_TEXT], full_destination[MAX_TEXT];
    /* the real cmdlet judges by the name alone and refuses anything else */
    if (!ends_with_ignoring_case(archive, ".zip")) {
        printf("Expand-Archive: '%s' is not a .zip file, the only archive format supported\n", archive);
        return 0;
    }
    DWORD full_length = 0;
    if (!to_wide(archive, wide_archive) || !to_wide(destination, wide_destination) || destination[0] == '\0' ||
        (full_length = GetFullPathNameW(wide_destination, MAX_TEXT, full_destination, NULL)) == 0 ||
        full_length >= MAX_TEXT) {
        printf("Expand-Archive: the archive or destination path is not valid UTF-8 or not a valid path\n");
        return 0;
    }
    size_t size = 0;
    unsigned char *data = read_whole_file(wide_archive, &size);
    if (!data) {
        printf("Expand-Archive: cannot read '%s' (error %lu)\n", archive, GetLastError());
        return 0;
    }
    int status = SHCreateDirectoryExW(NULL, full_destination, NULL);
    int ok = status == ERROR_SUCCESS || status == ERROR_ALREADY_EXISTS;
    if (!ok)
        printf("Expand-Archive: cannot create '%s' (error %d)\n", destination, status);
    ok = ok && extract_archive(data, size, full_destination, archive);
    free(data);
    return ok;
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
        if (COMMAND_FORMS[form].kind == EXPAND_ARCHIVE)
            return expand_archive(values[0], values[1]) ? 0 : 1;
        /* The statements after New-Object fail on its null result too, so
           the session ends with status 1. */
        if (constrained_language_mode()) {
            printf("New-Object : Cannot create type. Only core types are supported in this language mode.\n"
                   "    + CategoryInfo          : PermissionDenied: (:) [New-Object], PSNotSupportedException\n"
                   "    + FullyQualifiedErrorId : CannotCreateComTypeConstrainedLanguage,"
                   "Microsoft.PowerShell.Commands.NewObjectCommand\n");
            return 1;
        }
        return create_shortcut(values[0], values[1], values[2], COMMAND_FORMS[form].literal_count == 4 ? values[3] : NULL)
                   ? 0
                   : 1;
    }
    printf("powershell stand-in: unsupported command: %s\n", body);
    return 1;
}
