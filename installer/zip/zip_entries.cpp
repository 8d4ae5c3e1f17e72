/* What a zip archive brings, read from its central directory (PKWARE's
 * APPNOTE.TXT, sections 4.3.12 and 4.3.16), the record Expand-Archive itself
 * unpacks by, and where each entry's data lies past its local header
 * (section 4.3.7). Zip64 (sections 4.3.14, 4.3.15 and 4.5.3) is refused
 * wherever it shows, so that an archive is read whole or not at all: the
 * author's build-course refuses the same. */
#include "zip/zip_entries.h"

#include <stdlib.h>

#include "windows/system_code_page.h"

enum {
    END_RECORD_SIZE = 22,
    LONGEST_COMMENT = 0xFFFF,
    ZIP64_LOCATOR_SIZE = 20,
    CENTRAL_HEADER_SIZE = 46,
    LOCAL_HEADER_SIZE = 30,
    FLAG_UTF8_NAME = 0x0800,
};

static const uint32_t END_RECORD_SIGNATURE = 0x06054b50;
static const uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
static const uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
static const uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064b50;
/* A field at its largest value leaves what it holds to a Zip64 record. */
static const uint32_t ZIP64_MARK_16 = 0xFFFF;
static const uint32_t ZIP64_MARK_32 = 0xFFFFFFFF;

static uint32_t read16(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t read32(const unsigned char *bytes)
{
    return read16(bytes) | read16(bytes + 2) << 16;
}

/* size bytes of file from offset into buffer; 0 when all were read. */
static int read_zip_bytes(HANDLE file, uint32_t offset, unsigned char *buffer, uint32_t size)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD read = 0;
    return !(ReadFile(file, buffer, size, &read, &at) && read == size);
}

int open_zip_directory(const char *archive, zip_directory *directory)
{
    *directory = zip_directory();
    directory->file = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (directory->file == INVALID_HANDLE_VALUE)
        return 1;
    /* The end record, its comment and a Zip64 locator before them. */
    const uint32_t longest_tail = ZIP64_LOCATOR_SIZE + END_RECORD_SIZE + LONGEST_COMMENT;
    unsigned char *tail = (unsigned char *)malloc(longest_tail);
    LARGE_INTEGER file_size;
    int status = 1;
    /* Past 4 GiB only Zip64 records can point. */
    if (tail && GetFileSizeEx(directory->file, &file_size) && file_size.QuadPart >= END_RECORD_SIZE &&
        file_size.QuadPart <= UINT32_MAX) {
        uint32_t size = (uint32_t)file_size.QuadPart;
        uint32_t tail_size = size < longest_tail ? size : longest_tail;
        uint32_t tail_start = size - tail_size;
        const unsigned char *record = NULL;
        /* The end record is the last thing in the file but its comment. */
        if (read_zip_bytes(directory->file, tail_start, tail, tail_size) == 0)
            for (uint32_t at = tail_size - END_RECORD_SIZE + 1; at-- > 0 && !record;)
                if (read32(tail + at) == END_RECORD_SIGNATURE &&
                    at + END_RECORD_SIZE + read16(tail + at + 20) == tail_size)
                    record = tail + at;
        /* One part, and no Zip64 record standing in for a count or place. */
        int zip64 = record && record - tail >= ZIP64_LOCATOR_SIZE &&
                    read32(record - ZIP64_LOCATOR_SIZE) == ZIP64_LOCATOR_SIGNATURE;
        uint32_t count = record ? read16(record + 10) : 0;
        uint32_t directory_size = record ? read32(record + 12) : 0;
        uint32_t directory_start = record ? read32(record + 16) : 0;
        uint32_t record_start = record ? tail_start + (uint32_t)(record - tail) : 0;
        if (record && !zip64 && read16(record + 4) == 0 && read16(record + 6) == 0 && read16(record + 8) == count &&
            count != ZIP64_MARK_16 && directory_size != ZIP64_MARK_32 && directory_start != ZIP64_MARK_32 &&
            directory_start <= record_start && record_start - directory_start >= directory_size) {
            directory->bytes = (unsigned char *)malloc((size_t)directory_size + 1);
            directory->size = directory_size;
            directory->count = count;
            status = !directory->bytes ||
                     read_zip_bytes(directory->file, directory_start, directory->bytes, directory_size) != 0;
        }
    }
    free(tail);
    return status;
}

void close_zip_directory(zip_directory *directory)
{
    if (directory->file != INVALID_HANDLE_VALUE && directory->file != NULL)
        CloseHandle(directory->file);
    free(directory->bytes);
    *directory = zip_directory();
}

int next_zip_entry(const zip_directory *directory, uint32_t *position, zip_entry *entry)
{
    const unsigned char *header = directory->bytes + *position;
    uint32_t left = directory->size - *position;
    if (left < CENTRAL_HEADER_SIZE || read32(header) != CENTRAL_HEADER_SIGNATURE)
        return 1;
    entry->name_length = read16(header + 28);
    uint32_t length = CENTRAL_HEADER_SIZE + entry->name_length + read16(header + 30) + read16(header + 32);
    if (left < length)
        return 1;
    entry->flags = read16(header + 8);
    entry->method = read16(header + 10);
    entry->dos_time = read16(header + 12);
    entry->dos_date = read16(header + 14);
    entry->check.crc = read32(header + 16);
    entry->compressed_size = read32(header + 20);
    entry->check.size = read32(header + 24);
    entry->local_header = read32(header + 42);
    entry->name = header + CENTRAL_HEADER_SIZE;
    if (entry->compressed_size == ZIP64_MARK_32 || entry->check.size == ZIP64_MARK_32 ||
        entry->local_header == ZIP64_MARK_32 || read16(header + 34) == ZIP64_MARK_16)
        return 1;
    *position += length;
    return 0;
}

int zip_entry_name(const zip_entry *entry, wchar_t *name)
{
    /* Not flagged UTF-8, a name is what Expand-Archive makes of it. */
    UINT code_page = entry->flags & FLAG_UTF8_NAME ? CP_UTF8 : system_ansi_code_page();
    return entry->name_length > 0 ? MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, (const char *)entry->name,
                                                        (int)entry->name_length, name, (int)entry->name_length)
                                  : 0;
}

int add_zip_entry(path_set *set, const wchar_t *folder, const zip_entry *entry)
{
    wchar_t *name = (wchar_t *)malloc(((size_t)entry->name_length + 1) * sizeof *name);
    int units = name ? zip_entry_name(entry, name) : 0;
    /* A file comes with what it holds; a folder, with its final separator, holds nothing to check. */
    int is_folder = units > 0 && (name[units - 1] == L'/' || name[units - 1] == L'\\');
    int status = units == 0 || add_path(set, folder, name, (size_t)units, is_folder ? NULL : &entry->check) != 0;
    free(name);
    return status;
}

int add_zip_entries(path_set *set, const char *archive, const wchar_t *folder)
{
    zip_directory directory;
    int status = open_zip_directory(archive, &directory);
    uint32_t position = 0;
    zip_entry entry;
    for (uint32_t i = 0; i < directory.count && status == 0; i++)
        status = next_zip_entry(&directory, &position, &entry) != 0 || add_zip_entry(set, folder, &entry) != 0;
    close_zip_directory(&directory);
    return status;
}

int read_zip_entry_data(HANDLE file, const zip_entry *entry, unsigned char *packed)
{
    unsigned char header[LOCAL_HEADER_SIZE];
    if (read_zip_bytes(file, entry->local_header, header, LOCAL_HEADER_SIZE) != 0 ||
        read32(header) != LOCAL_HEADER_SIGNATURE)
        return 1;
    uint32_t data = entry->local_header + LOCAL_HEADER_SIZE + read16(header + 26) + read16(header + 28);
    return data < entry->local_header || read_zip_bytes(file, data, packed, entry->compressed_size) != 0;
}
