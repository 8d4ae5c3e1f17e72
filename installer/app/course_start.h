/* The switch the launcher starts this program's kept copy with
 * (setup.exe --start). */
#ifndef QUILLBY_COURSE_START_H
#define QUILLBY_COURSE_START_H

static const char START_SWITCH[] = "--start";

#endif
