/* The installed course asks for its next version, after it has opened and
 * out of the learner's way: at most once a day, in a process of its own
 * with no window, what it does written to the update log. */
#ifndef QUILLBY_UPDATE_CHECK_H
#define QUILLBY_UPDATE_CHECK_H

#include "download/wininet_library.h"
#include "windows/cng_library.h"

static const char CHECK_UPDATE_SWITCH[] = "--check-update";

/* How long the document's server may keep the check waiting. */
static const unsigned long UPDATE_ASK_TIMEOUT_MS = 20000;

/* Starts program (the setup kept in install_folder) as the check
 * (CHECK_UPDATE_SWITCH) when the course has an updates address and a check
 * is due; waits for nothing. */
void start_update_check(const char *install_folder, const char *program);

/* The check, on the tables given, at now: asks for the document; one that
 * came is judged, and the day counts as asked; one this installation may
 * take has its setup and archives downloaded into the download folder,
 * each held to the document's SHA-256 and size (an archive the download
 * folder holds already is copied), and then the document beside them.
 * Returns 0 once a newer version is there whole, else 1. */
int check_for_update(const wininet_library *internet, const cng_library *cng, const char *install_folder,
                     long long now);

/* The check's process: check_for_update on Windows' own libraries for
 * install_folder, one check at a time; its exit status. */
int run_update_check(const char *install_folder);

#endif
