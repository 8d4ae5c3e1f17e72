/* What a file holds, as a zip's central directory describes an entry: its
 * size and CRC-32 (ISO 3309, as PKWARE's APPNOTE.TXT uses it), so that the
 * setup can tell a file an archive brought from one changed since. */
#ifndef QUILLBY_FILE_CHECK_H
#define QUILLBY_FILE_CHECK_H

#include <stddef.h>
#include <stdint.h>

typedef struct {
    uint64_t size;
    uint32_t crc;
} file_check;

/* The CRC-32 of length more bytes after those crc was computed over (0 for
 * none). */
uint32_t crc32_update(uint32_t crc, const void *bytes, size_t length);

/* Reads the file at path (UTF-16) through, into *check. Returns 0, or 1 when
 * it cannot be opened or read. */
int check_file(const wchar_t *path, file_check *check);

#endif
