/* The course removed from this computer, as Windows' Settings > Apps asks. */
#ifndef QUILLBY_UNINSTALL_H
#define QUILLBY_UNINSTALL_H

/* The first argument that asks for the uninstall. */
static const char UNINSTALL_SWITCH[] = "--uninstall";

/* Removes the course's shortcut (when it opens this installation's
 * launcher), its install folder with everything in it, and its entry in the
 * installed apps; returns the exit status, 0 once all is gone. The install
 * folder is the one this program lies in when that folder's own entry names
 * it, else the one under LOCALAPPDATA. Refuses (1, nothing removed) while
 * another setup works on the folder or the course is open, and fails (1)
 * when there is nothing to remove. Run from the install folder, it hands the
 * work to a copy of itself in the temporary folder and returns 0 at once (1,
 * nothing removed, when it cannot): a running program's file cannot be
 * deleted. handover and handed_folder are the arguments after the switch:
 * the copy's only, naming the process it waits for and the install folder,
 * which the copy takes only if its entry names it. */
int run_uninstall(const char *handover, const char *handed_folder);

#endif
