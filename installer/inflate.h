/* Raw DEFLATE decompression (RFC 1951) for the PowerShell stand-in's Expand-Archive. */
#ifndef QUILLBY_STANDINS_INFLATE_H
#define QUILLBY_STANDINS_INFLATE_H

#include <stddef.h>

/* Decompresses the DEFLATE stream in[0..in_length) into out, which holds at
   most out_capacity bytes. Returns 1 and sets *out_length on success, 0 when
   the stream is malformed, truncated or would not fit. */
int inflate_raw(const unsigned char *in, size_t in_length, unsigned char *out, size_t out_capacity,
                size_t *out_length);

#endif
