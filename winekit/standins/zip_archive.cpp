/* A zip archive as .NET Framework 4.x's ZipArchive reads one (read mode).
 * The messages are its SR strings. */
#include "zip_archive.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "zip/file_check.h"
#include "zip/inflate.h"

enum {
    LOCAL_HEADER_SIZE = 30,
    CENTRAL_HEADER_SIZE = 46,
    END_RECORD_SIZE = 22,
    FLAG_UTF8_NAME = 0x0800,
    METHOD_STORED = 0,
    METHOD_DEFLATED = 8
};

static const uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
static const uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
static const uint32_t END_RECORD_SIGNATURE = 0x06054b50;

static const wchar_t END_RECORD_NOT_FOUND[] = L"End of Central Directory record could not be found.";
static const wchar_t SPLIT_OR_SPANNED[] = L"Split or spanned archives are not supported.";
static const wchar_t DIRECTORY_INVALID[] = L"Central Directory is invalid.";
static const wchar_t WRONG_ENTRY_COUNT[] =
    L"Number of entries expected in End Of Central Directory does not correspond to number of entries in "
    L"Central Directory.";
static const wchar_t UNSUPPORTED_METHOD[] =
    L"The archive entry was compressed using an unsupported compression method.";
static const wchar_t LOCAL_HEADER_CORRUPT[] = L"A local file header is corrupt.";
static const wchar_t INVALID_DATA[] = L"Found invalid data while decoding.";

static uint32_t read16(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t read32(const unsigned char *bytes)
{
    return read16(bytes) | read16(bytes + 2) << 16;
}

/* The last end-record signature that leaves room for the record's fixed
 * part, wherever the comment length says the file ends. */
int open_zip_archive(const unsigned char *bytes, size_t size, zip_archive *archive, const wchar_t **problem)
{
    const unsigned char *record = NULL;
    for (size_t at = size >= END_RECORD_SIZE ? size - END_RECORD_SIZE + 1 : 0; at > 0 && !record; at--)
        if (read32(bytes + at - 1) == END_RECORD_SIGNATURE)
            record = bytes + at - 1;
    if (!record) {
        *problem = END_RECORD_NOT_FOUND;
        return 1;
    }
    if (read16(record + 4) != read16(record + 6) || read16(record + 8) != read16(record + 10)) {
        *problem = SPLIT_OR_SPANNED;
        return 1;
    }
    if (read16(record + 4) == 0xFFFF || read16(record + 10) == 0xFFFF || read32(record + 16) == 0xFFFFFFFF)
        return 2;
    archive->bytes = bytes;
    archive->size = size;
    archive->directory = read32(record + 16);
    archive->count = read16(record + 10);
    archive->disk = read16(record + 4);
    return 0;
}

/* The length of the complete central header at position, or 0 where it is
 * cut short; -1 where no central header starts there. */
static long central_header_length(const zip_archive *archive, size_t position)
{
    if (position > archive->size || archive->size - position < 4)
        return 0;
    const unsigned char *header = archive->bytes + position;
    if (read32(header) != CENTRAL_HEADER_SIGNATURE)
        return -1;
    if (archive->size - position < CENTRAL_HEADER_SIZE)
        return 0;
    size_t length = CENTRAL_HEADER_SIZE + read16(header + 28) + read16(header + 30) + read16(header + 32);
    return archive->size - position < length ? 0 : (long)length;
}

int check_zip_entries(const zip_archive *archive, const wchar_t **problem)
{
    size_t position = archive->directory;
    uint32_t count = 0;
    long length;
    while ((length = central_header_length(archive, position)) > 0) {
        position += (size_t)length;
        count++;
    }
    if (length == 0) {
        *problem = DIRECTORY_INVALID;
        return 1;
    }
    if (count != archive->count) {
        *problem = WRONG_ENTRY_COUNT;
        return 1;
    }
    return 0;
}

void next_zip_entry(const zip_archive *archive, size_t *position, zip_entry *entry)
{
    const unsigned char *header = archive->bytes + *position;
    entry->flags = read16(header + 8);
    entry->method = read16(header + 10);
    entry->dos_time = read32(header + 12);
    entry->crc = read32(header + 16);
    entry->compressed_size = read32(header + 20);
    entry->size = read32(header + 24);
    entry->disk = read16(header + 34);
    entry->local_header = read32(header + 42);
    entry->name = header + CENTRAL_HEADER_SIZE;
    entry->name_length = read16(header + 28);
    *position += (size_t)central_header_length(archive, *position);
}

void zip_entry_name(const zip_entry *entry, unsigned code_page, wchar_t *name, size_t units)
{
    UINT decoding = entry->flags & FLAG_UTF8_NAME ? CP_UTF8 : code_page;
    int length = entry->name_length == 0 ? 0
                                         : MultiByteToWideChar(decoding, 0, (const char *)entry->name,
                                                               (int)entry->name_length, name, (int)units - 1);
    name[length] = L'\0';
}

unsigned char *zip_entry_content(const zip_archive *archive, const zip_entry *entry, const wchar_t **problem)
{
    if (entry->method != METHOD_STORED && entry->method != METHOD_DEFLATED) {
        *problem = UNSUPPORTED_METHOD;
        return NULL;
    }
    if (entry->disk != archive->disk) {
        *problem = SPLIT_OR_SPANNED;
        return NULL;
    }
    size_t local = entry->local_header;
    const unsigned char *header = archive->bytes + local;
    if (local > archive->size || archive->size - local < LOCAL_HEADER_SIZE ||
        read32(header) != LOCAL_HEADER_SIGNATURE ||
        archive->size - local - LOCAL_HEADER_SIZE < (size_t)read16(header + 26) + read16(header + 28) +
                                                        entry->compressed_size) {
        *problem = LOCAL_HEADER_CORRUPT;
        return NULL;
    }
    const unsigned char *data = header + LOCAL_HEADER_SIZE + read16(header + 26) + read16(header + 28);
    unsigned char *content = (unsigned char *)malloc((size_t)entry->size + 1);
    size_t produced = (size_t)entry->size + 1; /* what no data of the entry's size gives */
    if (content && entry->method == METHOD_STORED && entry->compressed_size == entry->size) {
        memcpy(content, data, entry->size);
        produced = entry->size;
    } else if (content && entry->method == METHOD_DEFLATED &&
               inflate_raw(data, entry->compressed_size, content, entry->size, &produced) != 0) {
        produced = (size_t)entry->size + 1;
    }
    if (produced != entry->size || crc32_update(0, content, produced) != entry->crc) {
        free(content);
        *problem = INVALID_DATA;
        return NULL;
    }
    return content;
}
