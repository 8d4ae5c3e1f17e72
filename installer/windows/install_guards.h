/* What must hold before an installation touches anything: no other setup at
 * work on the same install folder, and no course running from it. */
#ifndef QUILLBY_INSTALL_GUARDS_H
#define QUILLBY_INSTALL_GUARDS_H

#include <windows.h>

/* "CourseSetup." and 64 hexadecimal digits. */
enum { INSTALL_FOLDER_KEY_CAPACITY = 12 + 64 + 1 };

/* The name that stands for install_folder (a full path) in the system's
 * namespaces, the same for any two spellings of it that differ only in
 * letter case: the claim's and the installed apps' entry's. */
void format_install_folder_key(char key[INSTALL_FOLDER_KEY_CAPACITY], const char *install_folder);

/* Claims install_folder (a full path) for this setup until *claim is closed,
 * or until the process ends. Returns 1, *claim NULL, when another setup in
 * this logon session holds it (a learner who double-clicked twice, or who
 * ran one as administrator, whose claim this one may not open) or the claim
 * cannot be made. Any two spellings of one folder that differ only in
 * letter case are the same claim. */
int claim_install_folder(const char *install_folder, HANDLE *claim);

/* Marks, until the handle returned is closed, that the course's start holds
 * the claim of install_folder: a setup that finds the claim held then says
 * that the course is starting, not that another setup runs. NULL when the
 * mark cannot be made (the setup then says the latter). */
HANDLE mark_course_starting(const char *install_folder);

/* Claims the updates of install_folder for this process, until the handle
 * returned is closed: one check or apply at a time. NULL when another holds
 * them, or the claim cannot be made. */
HANDLE claim_update_work(const char *install_folder);

/* 1 when the runtime's python.exe under install_folder is running, and so
 * cannot be replaced: the learner has the course open. */
int course_is_open(const char *install_folder);

/* 1 when the python.exe at runtime (a full path) is running, given the error
 * with which opening it for writing failed: a sharing violation says so;
 * after any other error (no such file, or one this user may not write) the
 * running processes are looked at, for one whose image is that file. */
int runtime_is_running(const char *runtime, DWORD write_error);

/* Both guards with their messages: claims install_folder into *claim, or
 * says why not ("This setup is already running in another window.", "The
 * course is starting in another window. Close it once it has opened, then
 * run this setup again." or "The course is open. Close its window, then run
 * this setup again.") and returns 1 with nothing claimed. */
int guard_install_folder(const char *install_folder, HANDLE *claim);

#endif
