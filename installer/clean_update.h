/* An installation over an earlier one leaves nothing of it stale. */
#ifndef QUILLBY_CLEAN_UPDATE_H
#define QUILLBY_CLEAN_UPDATE_H

/* Once every archive is unpacked: records in download_folder what this
 * installation's archives brought to install_folder (each archive's entries
 * and the archive itself; the runtime archive unpacked into runtime_folder,
 * every part into install_folder, all from download_folder), and removes
 * what the record of the installation before brought and these do not.
 * Without an earlier record, or when an archive cannot be read through,
 * nothing is removed; in the second case the earlier record stays. Every
 * path: narrow text, inside install_folder. */
void clean_update(const char *install_folder, const char *download_folder, const char *runtime_archive,
                  const char *runtime_folder);

#endif
