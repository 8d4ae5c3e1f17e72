/* Paths past Windows' 260 units: a package tree is deep, and a learner's
 * profile folder may be long. */
#ifndef QUILLBY_LONG_PATH_H
#define QUILLBY_LONG_PATH_H

#include <stddef.h>

/* The longest path the \\?\ form reaches, in UTF-16 units. */
enum { LONG_PATH_UNITS = 32768 };

/* The \\?\ form of folder's full path (narrow text), which the wide calls
 * take past 260 units, into out (capacity units); its length, or 0 when it
 * does not fit. */
size_t long_path_form(const char *folder, wchar_t *out, size_t capacity);

/* Makes each folder of path (a \\?\ path) after its first base_length
 * units and before its last backslash that is not there yet: all of a
 * folder's path that ends in one. path is left as it was. */
void make_folders_above(wchar_t *path, size_t base_length);

#endif
