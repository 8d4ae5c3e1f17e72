/* Removing what an earlier installation's archives brought and a new one's
 * do not. */
#ifndef QUILLBY_STALE_FILES_H
#define QUILLBY_STALE_FILES_H

#include "zip/path_set.h"

/* Removes from install_folder (a full path, narrow text) each file and empty
 * folder that previous names and current (sorted) does not, then each folder
 * above it that this leaves empty, unless current names it. A file goes only
 * while it holds what its check in previous says: one without a check, or
 * changed since (the learner's now: progress a lesson saved, an edit), stays.
 * Nothing is removed through a reparse point (a junction or symbolic link may
 * lead outside the install folder) nor is one removed; a folder that still
 * holds anything, what the learner wrote for one, stays. A file with a
 * check that cannot be read to tell (held open for writing) or that, as its
 * check says, cannot be removed (held open) stays too, and is added with its
 * check to kept, for the next update to try again. Returns 0, or 1 when kept
 * could not take one. */
int remove_stale_files(const char *install_folder, const path_set *previous, const path_set *current,
                       path_set *kept);

#endif
