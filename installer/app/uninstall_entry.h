/* The course in Windows' list of installed apps (Settings > Apps), for this
 * user only: no admin rights needed. */
#ifndef QUILLBY_UNINSTALL_ENTRY_H
#define QUILLBY_UNINSTALL_ENTRY_H

#include "common/capacities.h"

/* The copy of the program kept in the install folder: run bare, it installs
 * the course again, as the setup it is; with --uninstall, it removes it;
 * with --start, the launcher starts the course through it. */
static const char KEPT_PROGRAM[] = "setup.exe";

/* Keeps a copy of this program in install_folder (keep_program_copy), which
 * the entry's uninstall command runs long after the setup itself was
 * deleted, and writes the entry of install_folder afresh (a later
 * installation replaces every value). Without the copy there is no entry: it
 * would name a missing program. Prints nothing; a failure leaves the course
 * installed, unlisted. */
void register_installation(const char *install_folder);

/* The copy of this program kept in install_folder, as a full path. */
void format_kept_program(char kept_program[FILE_PATH_CAPACITY], const char *install_folder);

/* Copies this program into install_folder as the program the entry's
 * uninstall command runs; returns 1 when it is not there after. Run from
 * install_folder, the program is its own copy. */
int keep_program_copy(const char *install_folder);

/* 1 when folder (a full path) has an entry of its own that names it as
 * where the course is installed, in any letter case. */
int entry_names_folder(const char *folder);

/* Deletes the entry of install_folder; returns 1 when there was none (or it
 * could not be deleted). */
int remove_uninstall_entry(const char *install_folder);

#endif
