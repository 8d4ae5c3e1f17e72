/* What the installation keeps of its updates, in the install folder: when
 * it last got a document, the last sequence whose update was tried, and
 * the keys that documents rotated in; and the names of the update's files there. */
#ifndef QUILLBY_UPDATE_STATE_H
#define QUILLBY_UPDATE_STATE_H

#include <windows.h>

#include "common/capacities.h"
#include "common/manifest.h"
#include "update/update_document.h"

/* In the install folder: the state, the log every check and apply writes
 * to, and the folder the next version downloads into. In that folder: the
 * new setup and the document that names it, written once every file it
 * names is in, so that a document there says the update is whole. */
static const char UPDATE_STATE_NAME[] = "update-state.txt";
static const char UPDATE_LOG_NAME[] = "update.log";
static const char UPDATE_DOWNLOAD_FOLDER[] = "update-download";
static const char UPDATE_SETUP_NAME[] = "setup.exe";
static const char UPDATE_DOCUMENT_NAME[] = "update-document.txt";

/* The log is started afresh once past this; a check writes a few lines. */
enum { UPDATE_LOG_LIMIT = 256 * 1024 };

/* A course asks at most once a day. */
static const long long UPDATE_CHECK_EVERY_SECONDS = 24 * 60 * 60;

enum { ROTATED_KEYS_CAPACITY = UPDATE_KEYS_CAPACITY - UPDATE_KEY_SLOTS };

typedef struct {
    long long checked; /* seconds since 1970 of the last check that got a document; 0: never */
    /* The last sequence whose update was put in place or failed to be (0:
     * none): never tried again, even where its setup carries a lower one. */
    unsigned long tried;
    unsigned char keys[ROTATED_KEYS_CAPACITY][P256_POINT_BYTES];
    size_t keys_count;
} update_state;

/* install_folder\name. */
void format_update_path(char path[FILE_PATH_CAPACITY], const char *install_folder, const char *name);

/* install_folder's download folder\name. */
void format_downloaded_path(char path[FILE_PATH_CAPACITY], const char *install_folder, const char *name);

/* The state kept in install_folder; all zero where there is none, and a
 * line that does not read is left out. */
void read_update_state(const char *install_folder, update_state *state);

/* Replaces the state whole; 0, or 1 when the one before stays. */
int write_update_state(const char *install_folder, const update_state *state);

/* The key a document named as the next signer joins the trusted ones; the
 * oldest rotated in goes when there is no room. */
void trust_rotated_key(update_state *state, const unsigned char key[P256_POINT_BYTES]);

/* What this installation trusts: the keys the program carries and the
 * rotated ones, its course, and a sequence above both its own and the one
 * last tried. */
void make_update_trust(const update_state *state, update_trust *trust);

/* Whether a check is due at now: never asked, or a day since the last
 * answer (a clock set back counts as a day gone). */
int update_check_due(const update_state *state, long long now);

/* Starts "program switch_name" from install_folder with no window, its
 * output appended to the update log; its process, or NULL. */
HANDLE start_logged(const char *install_folder, const char *program, const char *switch_name);

/* The same, waiting for it as run_hidden_logged does; 0 when it ended with
 * status 0 within limit_ms. */
int run_logged(const char *install_folder, const char *program, const char *switch_name, unsigned long limit_ms);

/* Appends text to the update log. */
void append_update_log(const char *install_folder, const char *text);

/* Seconds since 1970, UTC. */
long long seconds_now(void);

#endif
