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

/* download_and_verify on a loaded table: the same results, lines and
 * effects. */
int download_over(const wininet_library *internet, const retry_pauses *pauses, const char *url, const char *path,
                  const char *expected, const char *label);

#endif
