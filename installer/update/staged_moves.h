/* Putting a staged update in place so that no stop leaves half of one
 * version over the other: every file the update brings is unpacked and
 * checked in the staging folder first, a journal names the moves before the
 * first is made, and each file then takes its place by a rename on the same
 * volume, its earlier copy moved aside until the last has moved. */
#ifndef QUILLBY_STAGED_MOVES_H
#define QUILLBY_STAGED_MOVES_H

#include "zip/path_set.h"

/* The folders and the journal, in the install folder: the staging folder
 * holds the files to move as they will lie in the install folder; the
 * earlier copies wait in the set-aside folder until the journal is gone. */
static const char STAGING_FOLDER[] = "update-staging";
static const char SET_ASIDE_FOLDER[] = "update-set-aside";
static const char JOURNAL_NAME[] = "update-journal.txt";

/* Moves each file of moves (paths relative to install_folder, each with the
 * check of what was staged) from the staging folder into place, after
 * writing the journal; then removes the journal, and the staging and
 * set-aside folders. A file another program holds open is tried again for a
 * few seconds. When a move cannot be made, every move made is taken back,
 * and a line names the file: returns 1, the earlier version in place (or,
 * when even that fails, the journal left for the next start to finish).
 * install_folder: a full path, narrow text. Returns 0 once all moved. */
int apply_moves(const char *install_folder, const path_set *moves);

/* Removes what staging and setting aside left in install_folder, unless a
 * journal there still needs it to finish or undo an update. */
void clear_update_folders(const char *install_folder);

/* For a setup about to put every file in place anew: a journal that could
 * be neither finished nor undone goes, with what it would have needed. */
void supersede_update(const char *install_folder);

/* Before anything else, a setup or a start that finds a journal finishes its
 * moves, or where a move cannot be finished takes them all back, and says
 * which in one line; nothing is moved unless every file the journal names
 * is where it says, holding what it says. Returns 0 when no journal was
 * there or the install folder holds one whole version again; 1, after a
 * line, when it may not: the course must not start. */
int recover_update(const char *install_folder);

#endif
