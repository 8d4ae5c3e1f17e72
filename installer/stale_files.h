/* Removing what an earlier installation's archives brought and a new one's
 * do not. */
#ifndef QUILLBY_STALE_FILES_H
#define QUILLBY_STALE_FILES_H

#include "path_set.h"

/* Removes from install_folder (a full path, narrow text) each file and empty
 * folder that previous names and current (sorted) does not, then each folder
 * above it that this leaves empty, unless current names it. Nothing is
 * removed through a reparse point (a junction or symbolic link may lead
 * outside the install folder) nor is one removed; a folder that still holds
 * anything, what the learner wrote for one, stays, and so does whatever
 * cannot be removed. */
void remove_stale_files(const char *install_folder, const path_set *previous, const path_set *current);

#endif
