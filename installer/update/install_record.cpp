/* The record of what an installation's archives put in the install folder. */
#include "update/install_record.h"

#include <windows.h>
#include <limits.h>
#include <stdlib.h>
#include <wchar.h>

#include "windows/whole_file.h"

/* A line's check after its path: a tab, 1 to 20 decimal digits, a tab and
 * eight hexadecimal ones. */
enum { CHECK_UNITS = 1 + 20 + 1 + 8 };
static const wchar_t HEX_DIGITS[] = L"0123456789abcdef";

/* Reads the check in the length units at text; 0, or 1 when malformed. */
static int read_check(const wchar_t *text, size_t length, file_check *check)
{
    const wchar_t *tab = (const wchar_t *)wmemchr(text, L'\t', length);
    size_t digits = tab ? (size_t)(tab - text) : 0;
    if (digits == 0 || digits > 20 || length - digits - 1 != 8)
        return 1;
    check->size = 0;
    for (size_t i = 0; i < digits; i++) {
        uint64_t digit = (uint64_t)(text[i] - L'0');
        if (text[i] < L'0' || text[i] > L'9' || check->size > (UINT64_MAX - digit) / 10)
            return 1;
        check->size = check->size * 10 + digit;
    }
    check->crc = 0;
    for (const wchar_t *c = tab + 1; c < text + length; c++) {
        const wchar_t *digit = wcschr(HEX_DIGITS, *c);
        if (*c == L'\0' || !digit)
            return 1;
        check->crc = check->crc << 4 | (uint32_t)(digit - HEX_DIGITS);
    }
    return 0;
}

/* Adds one line of the record, its line end taken off. */
static int add_line(path_set *set, const wchar_t *line, size_t length)
{
    const wchar_t *tab = (const wchar_t *)wmemchr(line, L'\t', length);
    if (!tab)
        return add_path(set, L"", line, length, NULL);
    file_check check;
    size_t path_length = (size_t)(tab - line);
    return read_check(tab + 1, length - path_length - 1, &check) != 0 ||
           add_path(set, L"", line, path_length, &check) != 0;
}

int read_install_record_text(const char *bytes, size_t size, path_set *set)
{
    int length = size <= INT_MAX ? (int)size : -1;
    /* UTF-8 has no more UTF-16 units than bytes. */
    wchar_t *text = length >= 0 ? (wchar_t *)malloc(((size_t)length + 1) * sizeof *text) : NULL;
    int units =
        text && length > 0 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, text, length) : 0;
    /* Every line ends in a line feed: a record cut short is no record. */
    int status = !text || (length > 0 && (units == 0 || text[units - 1] != L'\n'));
    for (int start = 0, end; status == 0 && start < units; start = end + 1) {
        end = start + (int)((const wchar_t *)wmemchr(text + start, L'\n', (size_t)(units - start)) - (text + start));
        int line_length = end - start - (end > start && text[end - 1] == L'\r');
        status = add_line(set, text + start, (size_t)line_length);
    }
    free(text);
    return status;
}

int read_install_record(const char *record_file, path_set *set)
{
    size_t size = 0;
    char *bytes = read_whole_file(record_file, INT_MAX, &size);
    int status = !bytes || read_install_record_text(bytes, size, set) != 0;
    free(bytes);
    return status;
}

/* Writes a line's check at at; returns where it ends. */
static wchar_t *write_check(wchar_t *at, const file_check *check)
{
    wchar_t digits[20];
    size_t count = 0;
    uint64_t size = check->size;
    do {
        digits[count++] = (wchar_t)(L'0' + size % 10);
        size /= 10;
    } while (size > 0);
    *at++ = L'\t';
    while (count > 0)
        *at++ = digits[--count];
    *at++ = L'\t';
    for (int shift = 28; shift >= 0; shift -= 4)
        *at++ = HEX_DIGITS[check->crc >> shift & 0xF];
    return at;
}

char *format_install_record(const path_set *set, size_t *length)
{
    size_t units = 0;
    for (size_t i = 0; i < set->count; i++)
        units += wcslen(set->text + set->starts[i]) + CHECK_UNITS + 2;
    wchar_t *text = (wchar_t *)malloc((units + 1) * sizeof *text);
    /* A UTF-16 unit takes at most three bytes of UTF-8. */
    char *bytes = (char *)malloc(3 * units + 1);
    int written = -1;
    if (text && bytes && units <= INT_MAX / 3) {
        wchar_t *line = text;
        for (size_t i = 0; i < set->count; i++) {
            size_t path_length = wcslen(set->text + set->starts[i]);
            wmemcpy(line, set->text + set->starts[i], path_length);
            line += path_length;
            if (set->checks[i].known)
                line = write_check(line, &set->checks[i].file);
            wmemcpy(line, L"\r\n", 2);
            line += 2;
        }
        int used = (int)(line - text);
        written = used == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text, used, bytes, (int)(3 * units), NULL, NULL);
        if (used > 0 && written == 0)
            written = -1;
    }
    free(text);
    if (written < 0) {
        free(bytes);
        return NULL;
    }
    *length = (size_t)written;
    return bytes;
}

int write_install_record(const char *record_file, const path_set *set)
{
    size_t length = 0;
    char *bytes = format_install_record(set, &length);
    int status = !bytes || replace_whole_file(record_file, bytes, length) != 0;
    free(bytes);
    return status;
}
