/* The verified download on a WinINet table and retry pauses handed in, so a
 * test can drive every answer a server gives with a table of its own and no
 * waiting. */
#ifndef QUILLBY_DOWNLOAD_SEAM_H
#define QUILLBY_DOWNLOAD_SEAM_H

#include "download/wininet_library.h"

/* How many fresh requests a broken transfer may make, after the first. */
enum { FRESH_REQUESTS = 3 };

/* The pause before each fresh request, in milliseconds. */
typedef struct {
    DWORD before_request_ms[FRESH_REQUESTS];
} retry_pauses;

/* What the learner's download waits: growing, so a network that has just
 * dropped has time to come back. */
extern const retry_pauses RETRY_PAUSES;

/* How long a download waits for a server that has stopped sending. */
extern const DWORD RECEIVE_TIMEOUT_MS;

/* Opens url on a fresh session, through the system's proxy, with the
 * course's user agent, from the server and over https to its end: a
 * redirect to plain http is no answer. A connection or a server that stays
 * silent for timeout_ms is given up on. On failure says why and leaves
 * nothing open. */
int open_download(const wininet_library *internet, const char *url, DWORD timeout_ms, HINTERNET *session,
                  HINTERNET *request);

/* The answer's HTTP status; 0 when it has none. */
DWORD status_of(const wininet_library *internet, HINTERNET request);

/* download_within on a loaded table (ULLONG_MAX: no limit, as
 * download_and_verify): the same results, lines and effects. */
int download_over(const wininet_library *internet, const retry_pauses *pauses, const char *url, const char *path,
                  const char *expected, unsigned long long limit, const char *label);

#endif
