/* The course removed from this computer, as Windows' Settings > Apps asks. */
#ifndef QUILLBY_UNINSTALL_H
#define QUILLBY_UNINSTALL_H

/* The first argument that asks for the uninstall. */
static const char UNINSTALL_SWITCH[] = "--uninstall";

/* Removes the course's shortcut (when it opens this installation's
 * launcher), its install folder with everything in it, and its entry in the
 * installed apps; returns the exit status, 0 once all is gone. Refuses (1,
 * nothing removed) while another setup works on the folder or the course is
 * open. Run from the install folder, it hands the work to a copy of itself
 * in the temporary folder and returns 0 at once: a running program's file
 * cannot be deleted. handover is the argument after the switch: the copy's
 * only, naming the process it waits for. */
int run_uninstall(const char *handover);

#endif
