/* The embeddable Python starts isolated: its module search path is exactly
 * the entries of the ._pth file beside python.exe, so the course's own
 * modules, beside server.py in the install folder, and its packages import
 * only once that file lists their folders. */
#ifndef QUILLBY_RUNTIME_PATH_FILE_H
#define QUILLBY_RUNTIME_PATH_FILE_H

#include <stddef.h>

/* The runtime's path file text with the entries ".." (the install folder)
 * and "..\<PACKAGES_FOLDER>" after the last entry it lists, each only if it
 * is not listed yet, into out (capacity bytes). Lines are read as CPython
 * reads them: from a '#' on a comment, blanks around an entry ignored.
 * Returns the length written, or 0 when it does not fit. */
size_t extend_path_file_text(const char *text, size_t length, char *out, size_t capacity);

/* Extends every python*._pth file in runtime_folder so; the rest of each
 * file stays as the runtime brought it, and "import site" is never added:
 * it would put the learner's own site folder on the course's path and run
 * what other Python tools left there. Returns 0, or 1 when a file could not
 * be read or replaced (it is then as it was). */
int extend_runtime_path(const char *runtime_folder);

#endif
