/* Raw DEFLATE decompression (RFC 1951): the zip entries the setup unpacks
 * itself, and those the PowerShell stand-in unpacks under Wine. */
#ifndef QUILLBY_INFLATE_H
#define QUILLBY_INFLATE_H

#include <stddef.h>

/* Decompresses the DEFLATE stream in[0..in_length) into out, which holds at
 * most out_capacity bytes, and sets *out_length to the bytes it produced.
 * Returns 0, or 1 when the stream is malformed or truncated or its output
 * would not fit (out may then hold part of it, *out_length is not set).
 * Bytes after the final block are left unread. Codes are held to what zlib
 * accepts: none over-subscribed, none incomplete but a lone one-bit code. */
int inflate_raw(const unsigned char *in, size_t in_length, unsigned char *out, size_t out_capacity,
                size_t *out_length);

#endif
