/* The record of what an installation's archives put in the install folder. */
#include "install_record.h"

#include <windows.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "capacities.h"

int read_install_record(const char *record_file, path_set *set)
{
    HANDLE file = CreateFileA(record_file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER size;
    int ok = GetFileSizeEx(file, &size) && size.QuadPart < INT_MAX;
    int length = ok ? (int)size.QuadPart : 0;
    char *bytes = ok ? (char *)malloc((size_t)length + 1) : NULL;
    /* UTF-8 has no more UTF-16 units than bytes. */
    wchar_t *text = bytes ? (wchar_t *)malloc(((size_t)length + 1) * sizeof *text) : NULL;
    DWORD read = 0;
    ok = text && ReadFile(file, bytes, (DWORD)length, &read, NULL) && read == (DWORD)length;
    CloseHandle(file);
    int units = ok && length > 0 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, text, length) : 0;
    /* Every line ends in a line feed: a record cut short is no record. */
    int status = !ok || (length > 0 && (units == 0 || text[units - 1] != L'\n'));
    for (int start = 0, end; status == 0 && start < units; start = end + 1) {
        end = start + (int)((const wchar_t *)wmemchr(text + start, L'\n', (size_t)(units - start)) - (text + start));
        int line_length = end - start - (end > start && text[end - 1] == L'\r');
        status = add_path(set, L"", text + start, (size_t)line_length);
    }
    free(bytes);
    free(text);
    return status;
}

static int write_new_file(const char *path, const char *bytes, int length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    int whole = WriteFile(file, bytes, (DWORD)length, &written, NULL) && written == (DWORD)length;
    return !(CloseHandle(file) && whole);
}

int write_install_record(const char *record_file, const path_set *set)
{
    size_t units = 0;
    for (size_t i = 0; i < set->count; i++)
        units += wcslen(set->text + set->starts[i]) + 2;
    wchar_t *text = (wchar_t *)malloc((units + 1) * sizeof *text);
    /* A UTF-16 unit takes at most three bytes of UTF-8. */
    char *bytes = (char *)malloc(3 * units + 1);
    int length = -1;
    if (text && bytes && units <= INT_MAX / 3) {
        wchar_t *line = text;
        for (size_t i = 0; i < set->count; i++) {
            size_t path_length = wcslen(set->text + set->starts[i]);
            wmemcpy(line, set->text + set->starts[i], path_length);
            wmemcpy(line + path_length, L"\r\n", 2);
            line += path_length + 2;
        }
        length = units == 0 ? 0
                            : WideCharToMultiByte(CP_UTF8, 0, text, (int)units, bytes, (int)(3 * units), NULL, NULL);
        if (units > 0 && length == 0)
            length = -1;
    }
    free(text);
    /* Written beside it first, so that no half-written record is ever read. */
    char written_file[FILE_PATH_CAPACITY + 4];
    snprintf(written_file, sizeof written_file, "%s.new", record_file);
    int status = length < 0 || write_new_file(written_file, bytes, length) != 0 ||
                 !MoveFileExA(written_file, record_file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (status != 0)
        DeleteFileA(written_file);
    free(bytes);
    return status;
}
