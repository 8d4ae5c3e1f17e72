/* The installation: folders, verified downloads, unpacking, then the launcher. */
#ifndef QUILLBY_INSTALL_H
#define QUILLBY_INSTALL_H

/* Runs the whole installation, ending with the course's start when
 * open_course is 1; returns the exit status: 0 once every archive was
 * verified and unpacked, 1 at the first download or unpacking that failed
 * (later steps are skipped; the installation before stays whole). */
int run_install(int open_course);

#endif
