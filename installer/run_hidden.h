/* Runs one command line as a child process with no window and waits for it. */
#ifndef QUILLBY_RUN_HIDDEN_H
#define QUILLBY_RUN_HIDDEN_H

/* command_line names the program and all its arguments, as typed at a prompt.
 * program is the full path of the program to start, or NULL to find the one
 * command_line names by the system's usual search. Returns 0 when the child
 * started and exited with status 0, 1 when it could not start or exited with
 * any other status. Prints nothing. */
int run_hidden(const char *program, const char *command_line);

#endif
