/* One archive into the download folder: from beside the setup when a copy
 * there passes its pin, else from its address. */
#ifndef QUILLBY_FETCH_ARCHIVE_H
#define QUILLBY_FETCH_ARCHIVE_H

#include "common/capacities.h"

/* The path of the file in folder named as url's last segment, query and
 * fragment left out, into beside: where a setup looks for that archive
 * beside itself. 0, or 1 when url ends in no name or the path does not
 * fit. */
int format_file_beside(const char *folder, const char *url, char beside[FILE_PATH_CAPACITY]);

/* Tries the file in folder named as url's last segment (query and fragment
 * left out): copied to path and judged by expected. Returns 0 when it
 * passed; 1 when there is no such file, with no output, or when it failed,
 * after a line saying why. The file in folder is only read. */
int take_from_beside(const char *folder, const char *url, const char *path, const char *expected,
                     const char *label);

/* Puts the archive of url at path, accepted only by expected: a copy in the
 * folder of the running program (not the current one) that passes is used
 * with no network at all; else the archive is downloaded. Returns 0 once the
 * file at path passed, 1 otherwise (as download_and_verify). */
int fetch_archive(const char *url, const char *path, const char *expected, const char *label);

#endif
