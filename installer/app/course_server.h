/* The course's server in a window of its own: the runtime's python.exe
 * running server.py from the install folder, what it prints kept in a log
 * there, and the window titled so that the learner knows what it is. */
#ifndef QUILLBY_COURSE_SERVER_H
#define QUILLBY_COURSE_SERVER_H

#include <windows.h>

#include "common/capacities.h"

static const char SERVE_SWITCH[] = "--serve";

/* The log keeps the last start's output up to here, with a line that says
 * where it was cut: a server that logs every request for weeks cannot fill
 * the learner's disk. */
enum { SERVER_LOG_LIMIT = 1024 * 1024 };

void format_server_log(char log_file[FILE_PATH_CAPACITY], const char *install_folder);

/* Starts this program again as the server's window (SERVE_SWITCH), minimized
 * and titled with the course's name; its process, or NULL. */
HANDLE start_course_server(const char *install_folder);

/* The server's window: runs the server from this program's folder, its
 * standard output and error into the log, and ends when it ends; returns
 * its exit status, 1 when it could not start. */
int run_serve(void);

#endif
