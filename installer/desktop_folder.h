/* Where the learner's Desktop really is. */
#ifndef QUILLBY_DESKTOP_FOLDER_H
#define QUILLBY_DESKTOP_FOLDER_H

#include <stddef.h>

/* When the shell keeps the user's Desktop somewhere other than its default
 * place under the profile (OneDrive's folder backup, a school's folder
 * redirection to a share), writes that folder's full path into folder and
 * returns 0. Returns 1 when the Desktop was not moved, or the moved folder is
 * missing or its path does not fit in capacity bytes of narrow text. */
int moved_desktop_folder(char *folder, size_t capacity);

#endif
