/* A set of paths relative to the install folder, as Windows compares them. */
#ifndef QUILLBY_PATH_SET_H
#define QUILLBY_PATH_SET_H

#include <stddef.h>

#include "zip/file_check.h"

/* What a path's file held when its archive brought it; known is 0 for a
 * folder, and for a file whose record said nothing of it. */
typedef struct {
    file_check file;
    int known;
} path_check;

/* Each path in UTF-16 with backslashes, a folder's ending in one, with its
 * check. Start from {} and release with free_path_set. */
struct path_set {
    wchar_t *text;  /* every path with its terminator, back to back */
    size_t text_used, text_capacity;
    size_t *starts; /* where each path begins in text */
    path_check *checks; /* each path's, in the same order */
    size_t count, starts_capacity, checks_capacity;
};

/* Whether a segment of the length units of name, / or \ separating them, is
 * a name Windows reserves for a device in every folder: CON, PRN, AUX, NUL,
 * COM0 to COM9 and LPT0 to LPT9, COM and LPT before a superscript 1, 2 or 3
 * too (U+00B9, U+00B2, U+00B3), in any letter case, alone or before an
 * extension (NUL.txt, nul.tar.gz). */
int names_a_device(const wchar_t *name, size_t length);

/* Adds folder (a path of the set's form, or "") joined to the length units of
 * name, in which / separates as \ does, with check (NULL: not known). Returns
 * 1, adding nothing, for a name
 * that could reach outside the install folder or name something other than
 * it says: an empty one, one starting with a separator, one with an empty
 * segment but for a last separator, a segment that Windows would trim (".",
 * "..", or any ending in a dot or a blank), a character Windows refuses in a
 * name (a drive's ':' among them), one that names_a_device; or when memory
 * runs out. 0 once added. */
int add_path(path_set *set, const wchar_t *folder, const wchar_t *name, size_t length, const file_check *check);

/* Orders the paths ignoring letter case, as Windows names files, and drops
 * those that name the same one twice but the last added (a later archive's
 * file replaces an earlier one's); path_index needs it done. */
void sort_path_set(path_set *set);

/* Orders the paths as sort_path_set does, but keeps every one, and returns
 * where the first lies of two files whose paths differ only in letter case,
 * the other next after it; the count when no two do. */
size_t first_case_clash(path_set *set);

/* Where a sorted set holds path (in any letter case), or its count. */
size_t path_index(const path_set *set, const wchar_t *path);

/* Whether a sorted set holds path. */
int path_in_set(const path_set *set, const wchar_t *path);

void free_path_set(path_set *set);

#endif
