/* Unpacking a zip archive by the setup itself, where Windows PowerShell
 * cannot: Group Policy turned script execution off (the archive module then
 * never loads), or PowerShell skipped an entry or is not there at all. */
#ifndef QUILLBY_ZIP_UNPACK_H
#define QUILLBY_ZIP_UNPACK_H

/* Unpacks every entry of the zip archive at archive into destination (both
 * narrow text), as Expand-Archive -Force does: folders made, files
 * replaced, each given its entry's time. Only stored and deflated entries;
 * each file is held to its CRC-32 and size before it is written. Nothing is
 * written outside destination, nor through a junction or symbolic link, and
 * paths past 260 units are reached through the \\?\ form. Returns 0, or 1 at
 * the first entry that cannot be unpacked so (those before it stay). */
int unpack_zip(const char *archive, const char *destination);

#endif
