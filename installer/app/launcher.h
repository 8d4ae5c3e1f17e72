/* The last steps of an installation: launcher script, desktop shortcut, start. */
#ifndef QUILLBY_LAUNCHER_H
#define QUILLBY_LAUNCHER_H

/* Writes the launcher script into install_folder, puts a shortcut to it on
 * the desktop, prints the completion line and, when open_course is 1,
 * opens the launcher without waiting for it. Nothing here can fail the
 * installation. */
void finish_install(const char *install_folder, int open_course);

#endif
