/* A small text over HTTPS, whole into memory: the course's update document. */
#ifndef QUILLBY_FETCH_SMALL_H
#define QUILLBY_FETCH_SMALL_H

#include <stddef.h>

#include "download/wininet_library.h"

enum { FETCHED, FETCHED_NOTHING, FETCHED_TOO_LARGE };

/* Asks url once (no retry: the next start asks again) and keeps the body of
 * a 200 answer in buffer, NUL after it, its length in *length. FETCHED;
 * FETCHED_NOTHING for no answer in timeout_ms, a body still coming
 * timeout_ms after the answer, any other status (a 404, a proxy that asks
 * for a password) or a read that failed; FETCHED_TOO_LARGE
 * when the body holds capacity bytes or more, of which no more are read.
 * Lines for the log say which. */
int fetch_small(const wininet_library *internet, const char *url, unsigned long timeout_ms, char *buffer,
                size_t capacity, size_t *length);

#endif
