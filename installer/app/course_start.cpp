/* The course's start: one server per installation, the browser sent to the
 * course once it accepts a connection (a first start, with no bytecode yet
 * and an antivirus reading every file, can take a minute), and to a page
 * that says why when it ends first, stays silent, or another program holds
 * its port. No fixed wait anywhere. */
#include "app/course_start.h"

#include <stdio.h>

#include "app/failure_page.h"
#include "app/start_seam.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"

const start_timing START_TIMING = {2ul * 60 * 1000, 250};

typedef enum { ANSWERED, ENDED, SILENT } wait_outcome;

/* Asks the address until it answers, the server ends (server NULL: the
 * installation's python.exe stops running) or the limit passes. */
static wait_outcome wait_for_answer(const start_platform *platform, const start_timing *timing,
                                    const course_address *address, HANDLE server, const char *install_folder)
{
    ULONGLONG deadline = platform->now_ms() + timing->limit_ms;
    for (;;) {
        /* An answer once the server has ended is another program's. */
        int answered = platform->answers(address);
        if (server ? platform->has_ended(server) : !platform->course_running(install_folder))
            return ENDED;
        if (answered)
            return ANSWERED;
        if (platform->now_ms() >= deadline)
            return SILENT;
        platform->pause_ms(timing->poll_ms);
    }
}

static int show_failure(const start_platform *platform, const start_timing *timing, const char *install_folder,
                        start_failure why, const course_address *address)
{
    char page[FILE_PATH_CAPACITY];
    if (write_failure_page(install_folder, why, address, timing->limit_ms / 60000, page) == 0)
        platform->open_in_browser(page, install_folder);
    print_text("%s could not start: the page in your browser says why.\n", APP_PRODUCT_NAME);
    return 1;
}

int refuse_start_on(const start_platform *platform, const start_timing *timing, const char *install_folder,
                    start_failure why)
{
    course_address unused = {};
    return show_failure(platform, timing, install_folder, why, &unused);
}

static int open_course(const start_platform *platform, const char *install_folder)
{
    remove_failure_page(install_folder);
    platform->open_in_browser(COURSE_URL, install_folder);
    return 0;
}

/* The server this start launched ended first: where the address answers
 * now, or the server said it could not bind it, another program holds the
 * port, and it is that program that answers, never the course. */
static start_failure why_it_ended(const start_platform *platform, const course_address *address,
                                  const char *install_folder)
{
    return platform->answers(address) || log_shows_port_taken(install_folder) ? PORT_TAKEN : SERVER_ENDED;
}

int start_course_on(const start_platform *platform, const start_timing *timing, const char *install_folder)
{
    course_address address;
    parse_course_address(COURSE_URL, &address);
    /* Windows lets a second server bind the port the first listens on
     * (Python's servers ask for SO_REUSEADDR): a bind that fails cannot be
     * what tells that the course runs. */
    if (platform->course_running(install_folder)) {
        print_text("%s is running already; opening it.\n", APP_PRODUCT_NAME);
        wait_outcome outcome = wait_for_answer(platform, timing, &address, NULL, install_folder);
        if (outcome == ANSWERED)
            return open_course(platform, install_folder);
        if (outcome == SILENT)
            return show_failure(platform, timing, install_folder, SERVER_SILENT, &address);
        /* It ended without an answer: on its way out (its window closed just
         * before this start), or a start beside this one failed and says
         * so. Either way this start starts the course afresh. */
    }
    if (platform->answers(&address))
        return show_failure(platform, timing, install_folder, PORT_TAKEN, &address);
    print_text("Starting %s. A first start can take a minute; your browser opens it as soon as it is ready.\n",
               APP_PRODUCT_NAME);
    HANDLE server = platform->start_server(install_folder);
    if (!server)
        return show_failure(platform, timing, install_folder, SERVER_ENDED, &address);
    wait_outcome outcome = wait_for_answer(platform, timing, &address, server, install_folder);
    platform->close_server(server);
    if (outcome == ANSWERED)
        return open_course(platform, install_folder);
    return show_failure(platform, timing, install_folder,
                        outcome == SILENT ? SERVER_SILENT : why_it_ended(platform, &address, install_folder),
                        &address);
}
