/* Runs one command line as a child process with no window and waits for it. */
#ifndef QUILLBY_RUN_HIDDEN_H
#define QUILLBY_RUN_HIDDEN_H

/* command_line names the program and all its arguments, as typed at a prompt.
 * program is the full path of the program to start, or NULL to find the one
 * command_line names by the system's usual search. A child still running
 * after limit_ms milliseconds is ended, so that no child holds the
 * installation for ever. Returns 0 when the child started and exited with
 * status 0 in time, else 1. Prints nothing. */
int run_hidden(const char *program, const char *command_line, unsigned long limit_ms);

#endif
