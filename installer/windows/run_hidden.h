/* Runs one command line as a child process with no window. */
#ifndef QUILLBY_RUN_HIDDEN_H
#define QUILLBY_RUN_HIDDEN_H

#include <windows.h>

/* program is the full path of the program to start: never found by a search,
 * which would look first in the folder the installer was downloaded to, so
 * with no program (NULL) nothing starts.
 * command_line names the program and all its arguments, as typed at a prompt.
 * The child starts in working_folder (a full path), so nothing it loads by
 * name comes from the installer's own current folder. With a log (an
 * inheritable handle, NULL for none) its standard output and error go
 * there. Returns its process, or NULL when it did not start; waits for
 * nothing and prints nothing. */
HANDLE start_hidden(const char *program, const char *command_line, const char *working_folder, HANDLE log);

/* start_hidden, then waits for the child: one still running after limit_ms
 * milliseconds is ended, so that no child holds the installation for ever.
 * Returns 0 when the child started and exited with status 0 in time, else
 * 1. */
int run_hidden_logged(const char *program, const char *command_line, const char *working_folder, HANDLE log,
                      unsigned long limit_ms);

/* run_hidden_logged with no log. */
int run_hidden(const char *program, const char *command_line, const char *working_folder, unsigned long limit_ms);

#endif
