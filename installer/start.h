/* The course's start, what the launcher runs (setup.exe --start). */
#ifndef QUILLBY_START_H
#define QUILLBY_START_H

/* Starts the course installed in this program's folder, or opens it where
 * it already runs, once any update that stopped half-way there is finished
 * or undone; returns 0 once the browser was sent to the course, 1 when it
 * was sent to the page that says why the course could not start (an update
 * that could be neither finished nor undone among the reasons: the course
 * never starts on a mix of two versions). */
int run_start(void);

#endif
