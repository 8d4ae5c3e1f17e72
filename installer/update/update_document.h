/* The course's signed update document: what it names, and whether this
 * installation may take it. Its lines, in this order, each ending in a
 * line feed:
 *
 *   quillby_update: 1
 *   course: INSTALL FOLDER NAME
 *   sequence: N                     above every earlier document's
 *   version: TEXT
 *   issued: YYYY-MM-DDTHH:MM:SSZ
 *   expires: YYYY-MM-DDTHH:MM:SSZ
 *   setup: ADDRESS SHA256 SIZE      the new setup program
 *   archive: ADDRESS SHA256 SIZE    each archive it fetches, 1 to 32 lines
 *   next_key: HEX                   optional: the key that signs the next ones
 *   notes: TEXT                     optional
 *   signature: HEX                  ECDSA P-256 of every byte above it
 *
 * A key is its point's X and Y, a signature its r and s, each in 128
 * lower-case hexadecimal digits. */
#ifndef QUILLBY_UPDATE_DOCUMENT_H
#define QUILLBY_UPDATE_DOCUMENT_H

#include <stddef.h>

#include "common/capacities.h"
#include "windows/cng_library.h"

enum {
    /* The whole document, in bytes: a few lines per archive. */
    UPDATE_DOCUMENT_LIMIT = 16384,
    UPDATE_ARCHIVES_CAPACITY = 32,
    /* The keys pinned in the program and those rotated in since. */
    UPDATE_KEYS_CAPACITY = 8,
    /* A version's text, as the learner reads it. */
    UPDATE_VERSION_CAPACITY = 64,
    SHA256_TEXT_CAPACITY = 65,
};

/* The largest new setup program, and the largest archive (the zip format
 * without its 64-bit extension ends at 4 GB; a course is far below). */
static const unsigned long long UPDATE_SETUP_LIMIT = 16ull << 20;
static const unsigned long long UPDATE_ARCHIVE_LIMIT = 2ull << 30;

typedef struct {
    char address[ADDRESS_CAPACITY];
    char sha256[SHA256_TEXT_CAPACITY];
    unsigned long long size;
} update_file;

typedef struct {
    unsigned long sequence;
    char version[UPDATE_VERSION_CAPACITY];
    long long expires; /* seconds since 1970, UTC */
    update_file setup;
    update_file archives[UPDATE_ARCHIVES_CAPACITY];
    size_t archives_count;
    int names_next_key;
    unsigned char next_key[P256_POINT_BYTES];
} update_document;

/* What this installation trusts: the keys a document may be signed with,
 * the course it is, and the sequence a document must be above (the
 * installed one's, or one whose update failed). */
typedef struct {
    unsigned char keys[UPDATE_KEYS_CAPACITY][P256_POINT_BYTES];
    size_t keys_count;
    const char *course;
    unsigned long above_sequence;
} update_trust;

/* Why a document is refused, in the order it is checked. */
typedef enum {
    UPDATE_ACCEPTED,
    UPDATE_TOO_LARGE,
    UPDATE_UNSIGNED,
    UPDATE_MALFORMED,
    UPDATE_OTHER_COURSE,
    UPDATE_NOT_NEWER,
    UPDATE_EXPIRED,
    UPDATE_FILE_TOO_LARGE,
} update_verdict;

/* The line the log gets for each verdict. */
extern const char *const UPDATE_VERDICT_TEXT[];

/* Judges the length bytes at document, at now (seconds since 1970, UTC):
 * within its bound, signed by one of trust's keys over its exact bytes,
 * every line as above, for trust's course, above its sequence, not expired
 * and naming files within their bounds. Only then is *read filled in and
 * UPDATE_ACCEPTED returned; no byte is read as a field before the
 * signature holds. */
update_verdict judge_update_document(const cng_library *cng, const char *document, size_t length,
                                     const update_trust *trust, long long now, update_document *read);

/* The 128 hexadecimal digits at text as the 64 bytes of a point or a
 * signature; 0, or 1 when they are not exactly that. */
int read_p256_hex(const char *text, size_t length, unsigned char bytes[P256_POINT_BYTES]);

/* Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ" at text (length bytes); -1
 * when it is not a date of that form. */
long long read_utc_time(const char *text, size_t length);

#endif
