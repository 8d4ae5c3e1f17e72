/* Where the course is installed. */
#ifndef QUILLBY_INSTALL_FOLDER_H
#define QUILLBY_INSTALL_FOLDER_H

#include "common/capacities.h"

/* The install folder under LOCALAPPDATA, or under the current folder when it
 * is unset, as a full path: the children run elsewhere, so a relative path
 * would name another folder for them. */
void format_install_folder(char install_folder[FOLDER_CAPACITY]);

/* The folder this program's file lies in; "" when its path does not fit.
 * Run from the install folder (setup.exe there), it is the install folder. */
void format_program_folder(char folder[FILE_PATH_CAPACITY]);

#endif
