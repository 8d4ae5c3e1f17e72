/* The course's start on a table of the calls it makes of Windows, so that a
 * test drives every outcome (a server slow to listen, one that dies, one
 * already running, a port another program holds) with a table of its own
 * and a clock of its own, in milliseconds. */
#ifndef QUILLBY_START_SEAM_H
#define QUILLBY_START_SEAM_H

#include <windows.h>

#include "app/course_address.h"
#include "app/failure_page.h"

typedef struct {
    /* 1 while this installation's python.exe runs. */
    int (*course_running)(const char *install_folder);
    /* 1 when the address accepts a connection within one poll. */
    int (*answers)(const course_address *address);
    /* Starts the course's server from install_folder, its output kept in
     * the log; its process, or NULL when it could not start. */
    HANDLE (*start_server)(const char *install_folder);
    /* 1 once that process has ended. */
    int (*has_ended)(HANDLE server);
    void (*close_server)(HANDLE server);
    ULONGLONG (*now_ms)(void);
    void (*pause_ms)(DWORD milliseconds);
    /* Hands target, an address or a page's full path, to the learner's
     * browser. */
    void (*open_in_browser)(const char *target, const char *install_folder);
} start_platform;

/* How long a start waits for the course to answer, and how often it asks. */
typedef struct {
    unsigned long limit_ms;
    unsigned long poll_ms;
} start_timing;

/* Two minutes: a first start under an antivirus that reads every file. */
extern const start_timing START_TIMING;

/* The calls of the learner's Windows. */
extern const start_platform WINDOWS_START_PLATFORM;

/* run_start's sequence for install_folder (a full path), on the table
 * given: the same results, lines, log and page. */
int start_course_on(const start_platform *platform, const start_timing *timing, const char *install_folder);

/* A start that may not run the course (why): the page that says so in the
 * browser, and the line; returns 1. */
int refuse_start_on(const start_platform *platform, const start_timing *timing, const char *install_folder,
                    start_failure why);

#endif
