/* The --selftest run: proves the SHA-256 engine on published vectors and
 * lists the pinned checksums, without touching the network or the disk. */
#ifndef QUILLBY_SELFTEST_H
#define QUILLBY_SELFTEST_H

/* Prints the report; returns 0 when every vector matched, else 1. */
int run_selftest(void);

#endif
