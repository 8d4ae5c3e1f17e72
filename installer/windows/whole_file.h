/* Small files read and replaced whole, so that no reader ever meets one
 * half-written: the install record, the runtime's path file. */
#ifndef QUILLBY_WHOLE_FILE_H
#define QUILLBY_WHOLE_FILE_H

#include <stddef.h>

/* The bytes of the file at path (narrow text) on the heap, with a NUL after
 * the last, their count in *length; NULL when the file cannot be read whole
 * or holds more than limit bytes. The caller frees them. */
char *read_whole_file(const char *path, size_t limit, size_t *length);

/* Puts length bytes in place of the file at path, of less than
 * FILE_PATH_CAPACITY bytes: written beside it first, then moved over it in
 * one step. Returns 0, or 1 when the earlier file stays as it was. */
int replace_whole_file(const char *path, const char *bytes, size_t length);

#endif
