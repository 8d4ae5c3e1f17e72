/* Unpacking a zip archive by the setup itself: its stored and deflated
 * entries. */
#include "zip/zip_unpack.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "windows/long_path.h"
#include "zip/file_check.h"
#include "zip/inflate.h"
#include "zip/path_set.h"
#include "zip/zip_entries.h"

enum {
    METHOD_STORED = 0,
    METHOD_DEFLATED = 8,
    /* 1980-01-01, the earliest date a zip holds: what .NET's ZipArchive
     * gives an entry whose date is no date (a month or day of 0). */
    EARLIEST_DOS_DATE = 1 << 5 | 1,
};

/* Makes each folder on the way to the last separator of path (from base
 * on), and the last one too when folder is set; an existing one must be a
 * plain folder, never a junction or symbolic link that may lead anywhere. */
static int make_folders(wchar_t *path, size_t base, int folder)
{
    size_t length = wcslen(path);
    for (size_t at = base + 1; at <= length; at++) {
        if (path[at] != L'\\' && !(at == length && folder))
            continue;
        wchar_t kept = path[at];
        path[at] = L'\0';
        DWORD attributes = GetFileAttributesW(path);
        int made = attributes == INVALID_FILE_ATTRIBUTES ? CreateDirectoryW(path, NULL)
                                                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                                               !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        path[at] = kept;
        if (!made)
            return 1;
    }
    return 0;
}

/* The entry's bytes, unpacked and held to its CRC-32 and size; NULL when
 * they cannot be read or are not what the directory says. */
static unsigned char *entry_bytes(HANDLE archive, const zip_entry *entry)
{
    int stored = entry->method == METHOD_STORED;
    if ((!stored && entry->method != METHOD_DEFLATED) || (stored && entry->compressed_size != entry->check.size))
        return NULL;
    unsigned char *bytes = (unsigned char *)malloc((size_t)entry->check.size + 1);
    /* A stored entry's data is its bytes: read straight into place. */
    unsigned char *packed = stored ? bytes : (unsigned char *)malloc((size_t)entry->compressed_size + 1);
    size_t produced = stored ? entry->compressed_size : 0;
    int ok = packed && bytes && read_zip_entry_data(archive, entry, packed) == 0 &&
             (stored || inflate_raw(packed, entry->compressed_size, bytes, (size_t)entry->check.size, &produced) == 0);
    if (!stored)
        free(packed);
    if (!ok || produced != entry->check.size || crc32_update(0, bytes, produced) != entry->check.crc) {
        free(bytes);
        return NULL;
    }
    return bytes;
}

/* Writes the entry's bytes to path, replacing a plain file there, with the
 * entry's date and time taken as local time, as Expand-Archive gives them. */
static int write_entry(const wchar_t *path, const zip_entry *entry, const unsigned char *bytes)
{
    DWORD attributes = GetFileAttributesW(path);
    DWORD no_plain_file = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes & no_plain_file)
        return 1;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    FILETIME local, written_at;
    DWORD written = 0;
    int ok = WriteFile(file, bytes, (DWORD)entry->check.size, &written, NULL) && written == entry->check.size;
    if (ok && !DosDateTimeToFileTime((WORD)entry->dos_date, (WORD)entry->dos_time, &local))
        DosDateTimeToFileTime(EARLIEST_DOS_DATE, 0, &local);
    if (ok && LocalFileTimeToFileTime(&local, &written_at))
        ok = SetFileTime(file, NULL, NULL, &written_at);
    return !(CloseHandle(file) && ok);
}

int unpack_zip(const char *archive, const char *destination)
{
    zip_directory directory;
    path_set names = {};
    wchar_t *path = (wchar_t *)malloc(LONG_PATH_UNITS * sizeof *path);
    size_t base = path ? long_path_form(destination, path, LONG_PATH_UNITS) : 0;
    int status = open_zip_directory(archive, &directory) != 0 || base == 0 || make_folders(path, base - 1, 1) != 0;
    uint32_t position = 0;
    for (uint32_t i = 0; i < directory.count && status == 0; i++) {
        zip_entry entry;
        /* The set refuses every name that could reach outside destination. */
        status = next_zip_entry(&directory, &position, &entry) != 0 || add_zip_entry(&names, L"", &entry) != 0;
        const wchar_t *name = status == 0 ? names.text + names.starts[names.count - 1] : L"";
        size_t length = wcslen(name);
        if (status != 0 || base + 1 + length >= LONG_PATH_UNITS) {
            status = 1;
            break;
        }
        path[base] = L'\\';
        wcscpy(path + base + 1, name);
        int folder = name[length - 1] == L'\\';
        if (folder)
            path[base + length] = L'\0';
        status = make_folders(path, base, folder);
        if (status == 0 && !folder) {
            unsigned char *bytes = entry_bytes(directory.file, &entry);
            status = !bytes || write_entry(path, &entry, bytes) != 0;
            free(bytes);
        }
    }
    close_zip_directory(&directory);
    free_path_set(&names);
    free(path);
    return status;
}
