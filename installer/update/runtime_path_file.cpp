/* The runtime's path file, extended to the course's modules and packages. */
#include "update/runtime_path_file.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/capacities.h"
#include "common/manifest.h"
#include "windows/whole_file.h"

/* The official file is some 80 bytes; one of this size is no path file. */
static const size_t PATH_FILE_LIMIT = 64 * 1024;
static const char LINE_END[] = "\r\n";

/* The blanks Python's str.strip() takes off an ASCII line. */
static int is_blank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

/* Whether line (length bytes) holds a search path entry, and which: from
 * its first non-blank byte up to a '#' or the end, blanks trimmed. */
static int entry_of(const char *line, size_t length, const char **entry, size_t *entry_length)
{
    const char *hash = (const char *)memchr(line, '#', length);
    size_t end = hash ? (size_t)(hash - line) : length;
    size_t start = 0;
    while (start < end && is_blank(line[start]))
        start++;
    while (end > start && is_blank(line[end - 1]))
        end--;
    *entry = line + start;
    *entry_length = end - start;
    return end > start && strncmp(line + start, "import ", 7) != 0;
}

size_t extend_path_file_text(const char *text, size_t length, char *out, size_t capacity)
{
    char packages[FOLDER_CAPACITY];
    snprintf(packages, sizeof packages, "..\\%s", PACKAGES_FOLDER);
    const char *wanted[] = {"..", packages};
    int listed[] = {0, 0};
    size_t insert_at = 0; /* just past the last entry's line */
    for (size_t start = 0, end; start < length; start = end) {
        const char *line_end = (const char *)memchr(text + start, '\n', length - start);
        end = line_end ? (size_t)(line_end - text) + 1 : length;
        const char *entry;
        size_t entry_length;
        if (!entry_of(text + start, end - start, &entry, &entry_length))
            continue;
        insert_at = end;
        for (size_t i = 0; i < 2; i++)
            listed[i] |= strlen(wanted[i]) == entry_length && strncmp(entry, wanted[i], entry_length) == 0;
    }
    /* A last entry without its line end gets one before the new lines. */
    int needs_line_end = insert_at > 0 && text[insert_at - 1] != '\n';
    size_t added = needs_line_end ? strlen(LINE_END) : 0;
    for (size_t i = 0; i < 2; i++)
        added += listed[i] ? 0 : strlen(wanted[i]) + strlen(LINE_END);
    if (length + added >= capacity)
        return 0;
    memcpy(out, text, insert_at);
    size_t written = insert_at;
    if (needs_line_end)
        written += (size_t)sprintf(out + written, "%s", LINE_END);
    for (size_t i = 0; i < 2; i++)
        if (!listed[i])
            written += (size_t)sprintf(out + written, "%s%s", wanted[i], LINE_END);
    memcpy(out + written, text + insert_at, length - insert_at);
    out[written + length - insert_at] = '\0';
    return written + length - insert_at;
}

static int extend_path_file(const char *path_file)
{
    size_t length = 0;
    char *text = read_whole_file(path_file, PATH_FILE_LIMIT, &length);
    size_t capacity = length + 2 * FOLDER_CAPACITY;
    char *extended = text ? (char *)malloc(capacity) : NULL;
    size_t extended_length = extended ? extend_path_file_text(text, length, extended, capacity) : 0;
    /* Unchanged, it is left alone: a rerun writes nothing. */
    int status = extended_length == 0 || (extended_length != length &&
                                          replace_whole_file(path_file, extended, extended_length) != 0);
    free(text);
    free(extended);
    return status;
}

int extend_runtime_path(const char *runtime_folder)
{
    char pattern[FILE_PATH_CAPACITY];
    snprintf(pattern, sizeof pattern, "%s\\python*._pth", runtime_folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_FILE_NOT_FOUND;
    int status = 0;
    do {
        char path_file[FILE_PATH_CAPACITY];
        snprintf(path_file, sizeof path_file, "%s\\%s", runtime_folder, found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            status |= extend_path_file(path_file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return status;
}
