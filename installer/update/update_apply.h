/* A downloaded update put in place at the course's next start, before its
 * server runs: all of it, or none and the version before as it was. */
#ifndef QUILLBY_UPDATE_APPLY_H
#define QUILLBY_UPDATE_APPLY_H

#include "update/update_document.h"

/* The downloaded setup's switch: an installation from the files beside it,
 * without the course's start at its end. */
static const char APPLY_UPDATE_SWITCH[] = "--apply-update";

/* The update waiting whole in install_folder's download folder that this
 * installation may take at now: its document judged again, by Windows'
 * CNG, as it was when it came, and the new setup held to its digest. 0
 * with *read filled in; 1 when there is none (no library is loaded for a
 * folder with no document). */
int find_waiting_update(const char *install_folder, long long now, update_document *read);

/* Runs the new setup (APPLY_UPDATE_SWITCH) on install_folder, its output in
 * the update log, with no claim of this process on the folder; the kept
 * setup (kept, a full path), which is this running program, is set aside
 * for the new one.
 * Returns 0 once the new version is in place; 1 when it is not, the kept
 * setup back. Either way the update's sequence is recorded as tried, never
 * to be tried again, and the download folder goes. */
int apply_waiting_update(const char *install_folder, const char *kept, const update_document *read);

/* Removes the setup an update set aside, once it no longer runs. */
void remove_previous_setup(const char *install_folder);

#endif
