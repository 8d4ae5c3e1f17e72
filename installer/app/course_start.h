/* The course's start, what the launcher runs (setup.exe --start): the
 * browser is sent to the course only once it answers, and to a page that
 * says why when it cannot. */
#ifndef QUILLBY_COURSE_START_H
#define QUILLBY_COURSE_START_H

static const char START_SWITCH[] = "--start";

/* Starts the course installed in this program's folder, or opens it where
 * it already runs; returns 0 once the browser was sent to the course, 1
 * when it was sent to the page that says why the course could not start. */
int run_start(void);

#endif
