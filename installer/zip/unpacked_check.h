/* Whether an archive came out whole: Expand-Archive skips an entry it cannot
 * write (a file held open, a path too long) with an error and still ends
 * with status 0, so its status alone cannot tell. */
#ifndef QUILLBY_UNPACKED_CHECK_H
#define QUILLBY_UNPACKED_CHECK_H

/* 0 when every entry of the zip archive at archive is in destination as the
 * archive's central directory says (a folder as a folder, a file with its
 * size and CRC-32), else 1; 1 too when the archive cannot be read through.
 * Both paths: narrow text. */
int check_unpacked(const char *archive, const char *destination);

#endif
