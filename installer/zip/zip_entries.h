/* What a zip archive brings: the names in its central directory, each file's
 * with its size and CRC-32, and where each entry's data lies. */
#ifndef QUILLBY_ZIP_ENTRIES_H
#define QUILLBY_ZIP_ENTRIES_H

#include <windows.h>
#include <stdint.h>

#include "zip/path_set.h"

/* An archive's central directory, read whole: the zip of one part, without
 * Zip64 records, that Windows PowerShell's Expand-Archive unpacks. */
typedef struct {
    HANDLE file;
    unsigned char *bytes;
    uint32_t size, count;
} zip_directory;

/* One entry, as its central header describes it. */
typedef struct {
    uint32_t flags, method, dos_time, dos_date;
    file_check check;               /* size unpacked, and CRC-32 */
    uint32_t compressed_size, local_header;
    const unsigned char *name;      /* in the directory's bytes, not terminated */
    uint32_t name_length;
} zip_entry;

/* Opens the archive at archive (narrow text) and reads its central
 * directory. Returns 0, or 1 when it cannot be read or is no such zip: one
 * of several parts, or with a Zip64 end record's locator, or an entry count
 * (0xFFFF), directory size or place (0xFFFFFFFF) left to one; either way,
 * release with close_zip_directory. */
int open_zip_directory(const char *archive, zip_directory *directory);
void close_zip_directory(zip_directory *directory);

/* The entry whose central header starts at *position, which moves past it.
 * Returns 0, or 1 when the header is malformed, runs past the directory, or
 * leaves a size or place (0xFFFFFFFF) or the disk it starts on (0xFFFF) to
 * Zip64. */
int next_zip_entry(const zip_directory *directory, uint32_t *position, zip_entry *entry);

/* The entry's name in UTF-16, as Expand-Archive reads it (UTF-8 where the
 * entry is flagged so, else in the system's ANSI code page), into name, with
 * room for name_length units: a name has no more units than bytes. Returns
 * how many units, not terminated; 0 when it is empty or cannot be read. */
int zip_entry_name(const zip_entry *entry, wchar_t *name);

/* Adds the entry's name under folder to set, as add_path does, a file's with
 * its check and a folder's (a name ending in a separator) without. Returns
 * 0, or 1 when the name cannot be read or add_path refuses it. */
int add_zip_entry(path_set *set, const wchar_t *folder, const zip_entry *entry);

/* Adds to set, under folder (a path of the set's form, or ""), every entry
 * of the zip archive at archive as add_zip_entry does. Returns 0, or 1 when
 * the archive cannot be read through or an entry is refused; set may then
 * hold some of its entries. */
int add_zip_entries(path_set *set, const char *archive, const wchar_t *folder);

/* Reads the entry's data as the archive holds it, compressed_size bytes
 * past its local header, into packed. Returns 0, or 1 when no local header
 * lies where the central one says or the data cannot be read whole. */
int read_zip_entry_data(HANDLE file, const zip_entry *entry, unsigned char *packed);

#endif
