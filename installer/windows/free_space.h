/* Room on the learner's drive, checked before anything is written: a drive
 * that fills half-way leaves an archive cut short or a course unpacked in
 * part, and nothing would say the disk was full. */
#ifndef QUILLBY_FREE_SPACE_H
#define QUILLBY_FREE_SPACE_H

/* What stays free beyond what a step writes: the folders' and the record's
 * own clusters, the bytecode the setup compiles, the launcher's log. */
enum { ROOM_MARGIN_BYTES = 4 * 1024 * 1024 };

/* Whether the volume of folder (narrow text, a folder that exists) has bytes
 * and the margin free for the caller. Returns 0 when it has, or when its
 * free space cannot be read (the write itself then tells); else 1, after
 * the line "Not enough free space on D: for WHAT: it needs N MB more. Free
 * some space, then run this setup again.", N rounded up. */
int room_for(const char *folder, unsigned long long bytes, const char *what);

/* bytes rounded up to whole clusters of 4 KB, the smallest a file takes on
 * NTFS as Windows formats a drive of the sizes learners have. */
unsigned long long on_disk(unsigned long long bytes);

#endif
