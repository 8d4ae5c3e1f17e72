/* Where the learner's Desktop really is, and the course's shortcut on it. */
#ifndef QUILLBY_DESKTOP_FOLDER_H
#define QUILLBY_DESKTOP_FOLDER_H

#include <stddef.h>

#include "common/capacities.h"

/* When the shell keeps the user's Desktop somewhere other than its default
 * place under the profile (OneDrive's folder backup, a school's folder
 * redirection to a share), writes that folder's full path into folder and
 * returns 0. Returns 1 when the Desktop was not moved, or the moved folder is
 * missing or its path does not fit in capacity bytes of narrow text. */
int moved_desktop_folder(char *folder, size_t capacity);

/* The course's shortcut file: on the Desktop the shell shows, where OneDrive
 * or a redirection moved it; else on the Desktop under USERPROFILE. Returns 1
 * when there is neither. */
int format_shortcut_file(char shortcut_file[FILE_PATH_CAPACITY]);

#endif
