/* The record of what an installation's archives put in the install folder:
 * one path a line, relative to it, in UTF-8; a file's followed by a tab, its
 * size in decimal, a tab and its CRC-32 in eight hexadecimal digits, as the
 * archive's central directory gave them. A file's line without them (a
 * record written before they were kept) says nothing of what it held. */
#ifndef QUILLBY_INSTALL_RECORD_H
#define QUILLBY_INSTALL_RECORD_H

#include "zip/path_set.h"

/* Adds the paths of the record at record_file (narrow text) to set, with
 * their checks. Returns 0, or 1 when there is no record, it cannot be read or
 * is not UTF-8, or a line is not a path add_path takes with a well-formed
 * check: a record not to be trusted whole is not used at all (set may then
 * hold some of its paths). */
int read_install_record(const char *record_file, path_set *set);

/* read_install_record on the length bytes of a record in memory. */
int read_install_record_text(const char *bytes, size_t length, path_set *set);

/* The text of set as a record, on the heap (the caller frees it), its byte
 * count in *length; NULL when memory runs out. */
char *format_install_record(const path_set *set, size_t *length);

/* Writes set as the record at record_file, of less than FILE_PATH_CAPACITY
 * bytes: whole or not at all, the earlier record replaced in one step.
 * Returns 0, or 1 when the earlier record stays. */
int write_install_record(const char *record_file, const path_set *set);

#endif
