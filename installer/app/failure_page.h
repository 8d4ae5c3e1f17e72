/* The page the browser shows when the course could not start: what went
 * wrong, the last lines its server wrote, where the whole log is, and what
 * the learner can do. */
#ifndef QUILLBY_FAILURE_PAGE_H
#define QUILLBY_FAILURE_PAGE_H

#include "app/course_address.h"
#include "common/capacities.h"

typedef enum {
    SERVER_ENDED,  /* the server ended before it answered */
    SERVER_SILENT, /* it runs, but did not answer within the limit */
    PORT_TAKEN,    /* another program holds the course's port */
    UPDATE_HALF_DONE, /* an update that stopped half-way could be neither finished nor undone */
} start_failure;

/* Writes the page for why into install_folder, the log's last lines taken
 * from the server's log there, and its full path into page; returns 1 when
 * it could not be written. limit_minutes is how long the start waited. */
int write_failure_page(const char *install_folder, start_failure why, const course_address *address,
                       unsigned long limit_minutes, char page[FILE_PATH_CAPACITY]);

/* A start that worked leaves no page of an earlier one behind. */
void remove_failure_page(const char *install_folder);

/* 1 when the server's log says that it could not bind the course's port:
 * another program holds it. */
int log_shows_port_taken(const char *install_folder);

#endif
