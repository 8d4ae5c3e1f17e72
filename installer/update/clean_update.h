/* An installation over an earlier one leaves nothing of it stale. */
#ifndef QUILLBY_CLEAN_UPDATE_H
#define QUILLBY_CLEAN_UPDATE_H

/* Once every archive is unpacked: records in download_folder what this
 * installation's archives brought to install_folder (each archive's entries
 * and the archive itself, each file with its size and CRC-32; the runtime
 * archive unpacked into runtime_folder, every part into install_folder, all
 * from download_folder), and removes what the record of the installation
 * before brought and these do not, each file only while unchanged; what
 * could not be removed stays on record. Without an earlier record nothing is
 * removed. When an archive cannot be read through, or the earlier record
 * cannot be read whole, nothing is removed and the earlier record stays.
 * Every path: narrow text, inside install_folder. */
#include "common/capacities.h"
#include "zip/path_set.h"

/* Adds to brought, sorted, what this installation's archives bring to
 * install_folder, as clean_update records it, the runtime's path files
 * checked as they lie under root (install_folder, or the staging folder
 * that mirrors it). Returns 0, or 1 when an archive cannot be read
 * through. */
int list_brought(path_set *brought, const char *install_folder, const char *download_folder,
                 const char *runtime_archive, const char *runtime_folder, const char *root);

/* Where the record lies in download_folder. */
void format_record_file(char record[FILE_PATH_CAPACITY], const char *download_folder);

void clean_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                  const char *runtime_folder);

#endif
