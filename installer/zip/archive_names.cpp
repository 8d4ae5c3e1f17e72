/* Whether Windows can hold every name an archive brings. Expand-Archive
 * skips a file it cannot create, and of two names Windows takes for one it
 * keeps one file; the setup's own unpacking then fails with part of the
 * archive written. Told first, such an archive leaves the folder as it was. */
#include "zip/archive_names.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/console.h"
#include "zip/path_set.h"
#include "zip/zip_entries.h"

static const char CANNOT_READ[] = "%s is not a zip archive this setup can read; nothing was unpacked.\n";
static const char RESERVED[] = "%s holds a file Windows cannot create: %s (a reserved name); nothing was unpacked.\n";
static const char REFUSED[] = "%s holds a file Windows cannot create: %s (a name that leads outside its folder, or "
                              "one Windows refuses or changes); nothing was unpacked.\n";
static const char CLASH[] = "%s holds two files whose names differ only in letter case: %s and %s; nothing was "
                            "unpacked.\n";

/* The length units of name as narrow text, on the heap, with / for every
 * separator, as the archive's author wrote the name; NULL when memory runs
 * out. The separators change while the name is UTF-16: a byte of a
 * character in a double-byte code page can be a backslash. */
static char *shown_name(const wchar_t *name, size_t length)
{
    wchar_t *slashed = (wchar_t *)malloc((length + 1) * sizeof *slashed);
    for (size_t i = 0; slashed && i < length; i++)
        slashed[i] = name[i] == L'\\' ? L'/' : name[i];
    int bytes = slashed && length > 0 ? WideCharToMultiByte(CP_ACP, 0, slashed, (int)length, NULL, 0, NULL, NULL) : 0;
    char *text = slashed ? (char *)malloc((size_t)bytes + 1) : NULL;
    if (text) {
        WideCharToMultiByte(CP_ACP, 0, slashed, (int)length, text, bytes, NULL, NULL);
        text[bytes] = '\0';
    }
    free(slashed);
    return text;
}

/* Prints why the entry add_zip_entry refused cannot be unpacked. */
static void refuse_entry(const zip_entry *entry, const char *label)
{
    wchar_t *name = (wchar_t *)malloc(((size_t)entry->name_length + 1) * sizeof *name);
    int units = name ? zip_entry_name(entry, name) : 0;
    char *shown = units > 0 ? shown_name(name, (size_t)units) : NULL;
    if (!shown)
        print_text(CANNOT_READ, label);
    else
        print_text(names_a_device(name, (size_t)units) ? RESERVED : REFUSED, label, shown);
    free(shown);
    free(name);
}

int check_archive_names(const char *archive, const char *label)
{
    zip_directory directory;
    path_set names = {};
    int status = open_zip_directory(archive, &directory);
    if (status != 0)
        print_text(CANNOT_READ, label);
    uint32_t position = 0;
    for (uint32_t i = 0; i < directory.count && status == 0; i++) {
        zip_entry entry;
        if (next_zip_entry(&directory, &position, &entry) != 0) {
            print_text(CANNOT_READ, label);
            status = 1;
        } else if (add_zip_entry(&names, L"", &entry) != 0) {
            refuse_entry(&entry, label);
            status = 1;
        }
    }
    size_t clash = status == 0 ? first_case_clash(&names) : names.count;
    if (clash < names.count) {
        const wchar_t *one = names.text + names.starts[clash], *other = names.text + names.starts[clash + 1];
        char *shown_one = shown_name(one, wcslen(one)), *shown_other = shown_name(other, wcslen(other));
        if (shown_one && shown_other)
            print_text(CLASH, label, shown_one, shown_other);
        else
            print_text(CANNOT_READ, label);
        free(shown_one);
        free(shown_other);
        status = 1;
    }
    close_zip_directory(&directory);
    free_path_set(&names);
    fflush(stdout);
    return status;
}
