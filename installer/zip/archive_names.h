/* Whether Windows can hold every name an archive brings, told before
 * anything of it is unpacked: a part pinned by its digest was never seen by
 * the author's checks. */
#ifndef QUILLBY_ARCHIVE_NAMES_H
#define QUILLBY_ARCHIVE_NAMES_H

/* Reads the central directory of the zip archive at archive (narrow text).
 * Returns 0 when Windows can hold every entry under its name where the
 * archive puts it: none that add_path refuses (outside the folder it
 * unpacks into, a character Windows refuses, a segment it would trim, a
 * device name it reserves) and no two files whose names differ only in
 * letter case. Else prints one line, naming the archive by label, and
 * returns 1:
 *   "LABEL is not a zip archive this setup can read; nothing was unpacked."
 *   "LABEL holds a file Windows cannot create: NAME (a reserved name); nothing was unpacked."
 *   "LABEL holds a file Windows cannot create: NAME (a name that leads outside its folder, or one Windows refuses
 *    or changes); nothing was unpacked."
 *   "LABEL holds two files whose names differ only in letter case: NAME and NAME; nothing was unpacked."
 * Each NAME as the archive has it, / separating its folders. */
int check_archive_names(const char *archive, const char *label);

#endif
