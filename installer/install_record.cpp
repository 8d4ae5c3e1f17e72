/* The record of what an installation's archives put in the install folder. */
#include "install_record.h"

#include <windows.h>
#include <limits.h>
#include <stdlib.h>
#include <wchar.h>

#include "whole_file.h"

int read_install_record(const char *record_file, path_set *set)
{
    size_t size = 0;
    char *bytes = read_whole_file(record_file, INT_MAX, &size);
    int length = (int)size;
    /* UTF-8 has no more UTF-16 units than bytes. */
    wchar_t *text = bytes ? (wchar_t *)malloc(((size_t)length + 1) * sizeof *text) : NULL;
    int units =
        text && length > 0 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, text, length) : 0;
    /* Every line ends in a line feed: a record cut short is no record. */
    int status = !text || (length > 0 && (units == 0 || text[units - 1] != L'\n'));
    for (int start = 0, end; status == 0 && start < units; start = end + 1) {
        end = start + (int)((const wchar_t *)wmemchr(text + start, L'\n', (size_t)(units - start)) - (text + start));
        int line_length = end - start - (end > start && text[end - 1] == L'\r');
        status = add_path(set, L"", text + start, (size_t)line_length);
    }
    free(bytes);
    free(text);
    return status;
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
    int status = length < 0 || replace_whole_file(record_file, bytes, (size_t)length) != 0;
    free(bytes);
    return status;
}
