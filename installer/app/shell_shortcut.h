/* Desktop shortcuts through the shell's own link object: made where
 * PowerShell cannot make one, and read back to know what one opens. */
#ifndef QUILLBY_SHELL_SHORTCUT_H
#define QUILLBY_SHELL_SHORTCUT_H

/* Saves at shortcut_file a shortcut that starts target in working_folder,
 * with the icon at index icon_index in icon_file (NULL: the target's own),
 * as WScript.Shell's CreateShortcut and Save do underneath, replacing any
 * shortcut there. Each path: narrow text of less than FILE_PATH_CAPACITY
 * bytes. Returns 0 once saved, 1 otherwise. */
int save_shortcut(const char *shortcut_file, const char *target, const char *working_folder, const char *icon_file,
                  int icon_index);

/* 1 when shortcut_file is a shell shortcut whose target is target (the two
 * paths compared as Windows compares them, letter case aside); 0 when it is
 * not, is missing, or cannot be read. */
int shortcut_opens(const char *shortcut_file, const char *target);

#endif
