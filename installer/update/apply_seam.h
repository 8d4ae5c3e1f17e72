/* The staged moves on a table of the steps that change the disk, so that a
 * test can stop them after any one step, as a power cut would, and show
 * what the next start makes of it. */
#ifndef QUILLBY_APPLY_SEAM_H
#define QUILLBY_APPLY_SEAM_H

#include "zip/path_set.h"

typedef struct {
    /* Renames the file from to to (both \\?\ paths on one volume; to does
     * not exist): 0, or the Windows error. */
    unsigned long (*move_file)(const wchar_t *from, const wchar_t *to);
    /* Writes the journal at journal (narrow text) whole and flushed, or
     * not at all: 0, or 1. */
    int (*write_journal)(const char *journal, const char *bytes, size_t length);
    /* 0 once the journal is gone, or 1. */
    int (*remove_journal)(const char *journal);
    void (*pause_ms)(unsigned long ms);
} apply_steps;

/* Windows' own. */
extern const apply_steps APPLY_STEPS;

/* How often a file held open is tried, and the pause before each retry: an
 * antivirus scan of a file just written ends within seconds. */
enum { MOVE_TRIES = 8, MOVE_RETRY_PAUSE_MS = 500 };

/* apply_moves and recover_update on steps: the same results and lines. */
int apply_moves_on(const apply_steps *steps, const char *install_folder, const path_set *moves);
int recover_update_on(const apply_steps *steps, const char *install_folder);

#endif
