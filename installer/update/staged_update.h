/* An update unpacked beside the installation, then put in place whole: the
 * room checked first, every archive unpacked into the staging folder and
 * held to its central directory there, and only then the files moved. */
#ifndef QUILLBY_STAGED_UPDATE_H
#define QUILLBY_STAGED_UPDATE_H

#include "common/capacities.h"

/* Whether the install folder's volume has room for everything the archives
 * in download_folder (the runtime archive, then each part's) bring, staged
 * beside the installation before any earlier file is set aside. Returns 0,
 * or 1 after the line of room_for. */
int room_to_stage(const char *install_folder, const char *download_folder, const char *runtime_archive);

/* Once the runtime is staged in runtime_folder's place under the staging
 * folder and every part in the staging folder itself: moves it all into
 * install_folder with the new record, as apply_moves does. A course file
 * whose installed copy no longer holds what the record says its archive
 * brought is the learner's: it stays, the update's copy goes beside it
 * (lessons\ex1.py's as lessons\ex1.new.py), and a line names both. The
 * runtime's files always come from its archive. The record moved in names
 * what the installation before brought and this one does not too, so that
 * clean_update, run next, still removes it. Returns 0 once all is in place,
 * or 1 after a line (the earlier version then whole, as apply_moves
 * leaves it). Paths: narrow text, full; download_folder and runtime_folder
 * lie in install_folder. */
int put_staged_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                      const char *runtime_folder);

/* The staging folder, or a folder in it mirroring folder (a folder of
 * install_folder, or install_folder itself), into out. */
void format_staged_folder(char out[FILE_PATH_CAPACITY], const char *install_folder, const char *folder);

#endif
