/* A file's size and CRC-32, read through. */
#include "zip/file_check.h"

#include <windows.h>
#include <stdlib.h>

/* The reflected polynomial of ISO 3309's CRC-32. */
static const uint32_t CRC32_POLYNOMIAL = 0xEDB88320;
/* Enough to read at disk speed, small beside the program's other buffers. */
enum { CHECK_READ_SIZE = 65536 };

typedef struct {
    uint32_t entry[256];
} crc32_table;

/* Each byte's remainder, computed by the compiler: no table to fill at run
 * time and none to keep in the program's writable data. */
static constexpr crc32_table make_crc32_table()
{
    crc32_table table = {};
    for (uint32_t byte = 0; byte < 256; byte++) {
        uint32_t remainder = byte;
        for (int bit = 0; bit < 8; bit++)
            remainder = remainder >> 1 ^ (CRC32_POLYNOMIAL & (0u - (remainder & 1)));
        table.entry[byte] = remainder;
    }
    return table;
}

static constexpr crc32_table CRC32_TABLE = make_crc32_table();

uint32_t crc32_update(uint32_t crc, const void *bytes, size_t length)
{
    const unsigned char *in = (const unsigned char *)bytes;
    crc = ~crc;
    for (size_t i = 0; i < length; i++)
        crc = crc >> 8 ^ CRC32_TABLE.entry[(crc ^ in[i]) & 0xFF];
    return ~crc;
}

int check_file(const wchar_t *path, file_check *check)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    unsigned char *buffer = (unsigned char *)malloc(CHECK_READ_SIZE);
    file_check found = {0, 0};
    DWORD read = 0;
    int ok = buffer != NULL;
    while (ok && (ok = ReadFile(file, buffer, CHECK_READ_SIZE, &read, NULL)) && read > 0) {
        found.crc = crc32_update(found.crc, buffer, read);
        found.size += read;
    }
    free(buffer);
    CloseHandle(file);
    if (ok)
        *check = found;
    return !ok;
}
