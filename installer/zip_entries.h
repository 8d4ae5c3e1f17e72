/* What a zip archive brings: the names in its central directory, each file's
 * with its size and CRC-32. */
#ifndef QUILLBY_ZIP_ENTRIES_H
#define QUILLBY_ZIP_ENTRIES_H

#include "path_set.h"

/* Adds to set, under folder (a path of the set's form, or ""), the name of
 * every entry of the zip archive at archive (narrow text): a file's, with its
 * check, or a folder's with its final separator. Returns 0, or 1 when the archive cannot
 * be read, is not a zip of one part without Zip64 records, or holds a name
 * that add_path refuses; set may then hold some of its entries. */
int add_zip_entries(path_set *set, const char *archive, const wchar_t *folder);

#endif
