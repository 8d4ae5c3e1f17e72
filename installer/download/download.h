/* Fetches one archive over HTTPS and accepts it only by its pinned SHA-256. */
#ifndef QUILLBY_DOWNLOAD_H
#define QUILLBY_DOWNLOAD_H

/* Streams url into the file at path (created or truncated), hashing the bytes
 * as they arrive, and prints progress and a verdict that name the download by
 * label. A transfer that breaks off (a failed read, or a body short of the
 * length the server announced) is asked for the rest, after a pause, up to
 * three times, naming the file it began with (If-Range) when the server gave
 * a validator that may. The file goes on only from a 206 whose Content-Range
 * is that rest of that file, and starts over only from a 200; any other
 * answer is one more break. Returns 0 when the digest of the bytes in the
 * file equals expected (64 lower-case hexadecimal characters, compared
 * exactly) and every byte reached the file. Returns 1 otherwise: a file that
 * fails its check or could not be written whole is deleted; a failure before
 * the transfer starts leaves the disk as it was. */
int download_and_verify(const char *url, const char *path, const char *expected, const char *label);

/* download_and_verify of a file that is limit bytes at most: an answer that
 * announces more is not begun, and a body that grows past it ends the
 * download, the file deleted, whatever the server goes on sending. */
int download_within(const char *url, const char *path, const char *expected, unsigned long long limit,
                    const char *label);

/* Copies the file at source, found beside the setup, to path in one pass
 * that hashes it, with the progress rhythm of a download, and judges it by
 * expected. Returns 0 when it matches; 1 otherwise, the copy at path
 * deleted, after a line saying so and that the archive is downloaded
 * instead, its only use after a copy fails. source is only read. */
int copy_and_verify(const char *source, const char *path, const char *expected, const char *label);

#endif
