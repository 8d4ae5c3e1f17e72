/* A desktop shortcut made through the shell's own link object. */
#ifndef QUILLBY_SHELL_SHORTCUT_H
#define QUILLBY_SHELL_SHORTCUT_H

/* Saves at shortcut_file a shortcut that starts target in working_folder,
 * as WScript.Shell's CreateShortcut and Save do underneath, replacing any
 * shortcut there. Each path: narrow text of less than FILE_PATH_CAPACITY
 * bytes. Returns 0 once saved, 1 otherwise. */
int save_shortcut(const char *shortcut_file, const char *target, const char *working_folder);

#endif
