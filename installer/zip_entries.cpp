/* What a zip archive brings, read from its central directory (PKWARE's
 * APPNOTE.TXT, sections 4.3.12 and 4.3.16), the record Expand-Archive itself
 * unpacks by. */
#include "zip_entries.h"

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>

enum {
    END_RECORD_SIZE = 22,
    LONGEST_COMMENT = 0xFFFF,
    CENTRAL_HEADER_SIZE = 46,
    FLAG_UTF8_NAME = 0x0800,
    /* Names not flagged UTF-8 are in the original IBM PC character set. */
    CODE_PAGE_IBM437 = 437,
};

static const uint32_t END_RECORD_SIGNATURE = 0x06054b50;
static const uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;

static uint32_t read16(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t read32(const unsigned char *bytes)
{
    return read16(bytes) | read16(bytes + 2) << 16;
}

/* size bytes of file from offset into buffer. */
static int read_at(HANDLE file, uint32_t offset, unsigned char *buffer, uint32_t size)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, &at) && read == size;
}

/* The entries of the central directory of size bytes. */
static int add_entries(path_set *set, const unsigned char *directory, uint32_t size, uint32_t count,
                       const wchar_t *folder)
{
    /* A name has no more UTF-16 units than bytes, and lies in the directory. */
    wchar_t *name = (wchar_t *)malloc(((size_t)size + 1) * sizeof *name);
    if (!name)
        return 1;
    uint32_t position = 0;
    int status = 0;
    for (uint32_t i = 0; i < count && status == 0; i++) {
        const unsigned char *header = directory + position;
        status = 1;
        if (size - position < CENTRAL_HEADER_SIZE || read32(header) != CENTRAL_HEADER_SIGNATURE)
            break;
        uint32_t name_length = read16(header + 28);
        uint32_t length = CENTRAL_HEADER_SIZE + name_length + read16(header + 30) + read16(header + 32);
        if (size - position < length)
            break;
        UINT code_page = read16(header + 8) & FLAG_UTF8_NAME ? CP_UTF8 : CODE_PAGE_IBM437;
        int units = name_length == 0 ? 0
                                     : MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS,
                                                           (const char *)header + CENTRAL_HEADER_SIZE,
                                                           (int)name_length, name, (int)name_length);
        /* A file comes with what it holds; a folder, with its final separator, holds nothing to check. */
        file_check check = {read32(header + 24), read32(header + 16)};
        int is_folder = units > 0 && (name[units - 1] == L'/' || name[units - 1] == L'\\');
        status = units == 0 ? 1 : add_path(set, folder, name, (size_t)units, is_folder ? NULL : &check);
        position += length;
    }
    free(name);
    return status;
}

int add_zip_entries(path_set *set, const char *archive, const wchar_t *folder)
{
    HANDLE file = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    int status = 1;
    unsigned char tail[END_RECORD_SIZE + LONGEST_COMMENT];
    LARGE_INTEGER file_size;
    /* Past 4 GiB only Zip64 records can point. */
    if (GetFileSizeEx(file, &file_size) && file_size.QuadPart >= END_RECORD_SIZE && file_size.QuadPart <= UINT32_MAX) {
        uint32_t size = (uint32_t)file_size.QuadPart;
        uint32_t tail_size = size < sizeof tail ? size : (uint32_t)sizeof tail;
        uint32_t tail_start = size - tail_size;
        const unsigned char *record = NULL;
        /* The end record is the last thing in the file but its comment. */
        if (read_at(file, tail_start, tail, tail_size))
            for (uint32_t at = tail_size - END_RECORD_SIZE + 1; at-- > 0 && !record;)
                if (read32(tail + at) == END_RECORD_SIGNATURE &&
                    at + END_RECORD_SIZE + read16(tail + at + 20) == tail_size)
                    record = tail + at;
        /* One part, and no Zip64 record standing in for a count or place. */
        uint32_t count = record ? read16(record + 10) : 0;
        uint32_t directory_size = record ? read32(record + 12) : 0;
        uint32_t directory_start = record ? read32(record + 16) : 0;
        uint32_t record_start = record ? tail_start + (uint32_t)(record - tail) : 0;
        if (record && read16(record + 4) == 0 && read16(record + 6) == 0 && read16(record + 8) == count &&
            count != 0xFFFF && directory_start <= record_start && record_start - directory_start >= directory_size) {
            unsigned char *directory = (unsigned char *)malloc((size_t)directory_size + 1);
            if (directory && read_at(file, directory_start, directory, directory_size))
                status = add_entries(set, directory, directory_size, count, folder);
            free(directory);
        }
    }
    CloseHandle(file);
    return status;
}
