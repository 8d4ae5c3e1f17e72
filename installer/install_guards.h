/* What must hold before an installation touches anything: no other setup at
 * work on the same install folder, and no course running from it. */
#ifndef QUILLBY_INSTALL_GUARDS_H
#define QUILLBY_INSTALL_GUARDS_H

#include <windows.h>

/* Claims install_folder (a full path) for this setup until *claim is closed,
 * or until the process ends. Returns 1 when another setup in this logon
 * session holds it: a learner who double-clicked twice. Any two spellings of
 * one folder that differ only in letter case are the same claim. */
int claim_install_folder(const char *install_folder, HANDLE *claim);

/* 1 when the runtime's python.exe under install_folder is running, and so
 * cannot be replaced: the learner has the course open. */
int course_is_open(const char *install_folder);

#endif
