/* A zip archive as .NET Framework 4.x's ZipArchive reads one for Windows
 * PowerShell 5.1's Expand-Archive: what its constructor, its Entries and an
 * entry's Open refuse, with the messages of their InvalidDataException. */
#ifndef QUILLBY_ZIP_ARCHIVE_H
#define QUILLBY_ZIP_ARCHIVE_H

#include <stddef.h>
#include <stdint.h>

typedef struct {
    const unsigned char *bytes; /* the whole file */
    size_t size;
    size_t directory; /* where the central directory starts */
    uint32_t count;   /* its entries, as the end record counts them */
    uint32_t disk;    /* the end record's disk */
} zip_archive;

typedef struct {
    uint32_t flags, method, dos_time, crc, compressed_size, size, disk, local_header;
    const unsigned char *name; /* not terminated */
    uint32_t name_length;
} zip_entry;

/* Finds the end record as the constructor does. Returns 0; 1 with *problem
 * its message when the constructor refuses the archive; 2 for an archive
 * with Zip64 records, which .NET reads and this stand-in does not. */
int open_zip_archive(const unsigned char *bytes, size_t size, zip_archive *archive, const wchar_t **problem);

/* Reads the central directory through as Entries does before it gives any
 * entry: each header while one follows. Returns 0, or 1 with *problem when
 * a header is cut short or the headers are not as many as the end record
 * counts. */
int check_zip_entries(const zip_archive *archive, const wchar_t **problem);

/* The entry whose central header is at *position, which moves past it; for
 * the headers check_zip_entries read, from archive->directory on. */
void next_zip_entry(const zip_archive *archive, size_t *position, zip_entry *entry);

/* The entry's name as ZipArchive decodes it: UTF-8 where the entry's flag
 * says so, else the system's ANSI code page, code_page, as .NET Framework's
 * Encoding.Default is. name holds units, enough for any name (65536). */
void zip_entry_name(const zip_entry *entry, unsigned code_page, wchar_t *name, size_t units);

/* The entry's bytes on the heap, entry->size of them, as Open and reading
 * it through give them; NULL with *problem when Open refuses the entry or
 * its data cannot be read so. Stricter than .NET Framework, which reads a
 * stored entry's compressed size and a deflated one's stream to its end
 * whatever the sizes recorded, and checks no CRC-32: the stand-in refuses
 * an entry whose bytes differ from its recorded size or CRC-32. */
unsigned char *zip_entry_content(const zip_archive *archive, const zip_entry *entry, const wchar_t **problem);

#endif
