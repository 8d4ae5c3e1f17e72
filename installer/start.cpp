/* The course's start: the install folder claimed, an update that stopped
 * half-way finished or undone, a downloaded version put in place, then the
 * server and the browser, and, once the course is open, the check for the
 * next version. */
#include "start.h"

#include <windows.h>
#include <stdio.h>

#include "app/course_start.h"
#include "app/install_folder.h"
#include "app/start_seam.h"
#include "app/uninstall_entry.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "update/staged_moves.h"
#include "update/update_apply.h"
#include "update/update_state.h"
#include "update_check.h"
#include "windows/install_guards.h"

/* A setup at work on the folder, or another start, holds its claim: a start
 * waits for it (the setup that has just installed the course lets go as it
 * ends), then finds the course as that one left it. */
static HANDLE claim_when_free(const char *install_folder)
{
    HANDLE claim = NULL;
    ULONGLONG deadline = GetTickCount64() + START_TIMING.limit_ms;
    while (claim_install_folder(install_folder, &claim) != 0 && GetTickCount64() < deadline)
        Sleep(START_TIMING.poll_ms);
    return claim;
}

static void say_setup_at_work(void)
{
    print_text("A setup is at work on %s in another window; start the course again once it is done.\n",
               APP_PRODUCT_NAME);
}

/* The update waiting in the download folder, when the course has updates
 * and none is at work and the course is not open (its runtime could not be
 * replaced); 0 with *read filled in, else 1. */
static int update_to_apply(const char *install_folder, update_document *read, HANDLE *alone)
{
    if (!UPDATES_URL[0] || course_is_open(install_folder) ||
        find_waiting_update(install_folder, seconds_now(), read) != 0)
        return 1;
    *alone = claim_update_work(install_folder);
    return *alone == NULL;
}

/* The new version's own start, in this window; its exit status. */
static int start_new_version(const char *install_folder)
{
    char program[FILE_PATH_CAPACITY], command[FILE_PATH_CAPACITY + 16];
    format_kept_program(program, install_folder);
    snprintf(command, sizeof command, "\"%s\" %s", program, START_SWITCH);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, command, NULL, NULL, FALSE, 0, NULL, install_folder, &startup, &process))
        return 1;
    DWORD exit_code = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (int)exit_code;
}

/* Puts the waiting update in place, the folder's claim let go for the
 * new setup; 0 once the new version is there, else 1 with the claim taken
 * again into *claim (NULL when it could not be). */
static int apply_update(const char *install_folder, const update_document *read, HANDLE *claim,
                        HANDLE *starting)
{
    if (*starting)
        CloseHandle(*starting);
    CloseHandle(*claim);
    char kept[FILE_PATH_CAPACITY];
    format_kept_program(kept, install_folder);
    int status = apply_waiting_update(install_folder, kept, read);
    if (status == 0) {
        print_text("%s was updated to version %s.\n", APP_PRODUCT_NAME, read->version);
        *claim = *starting = NULL;
        return 0;
    }
    char log[FILE_PATH_CAPACITY];
    format_update_path(log, install_folder, UPDATE_LOG_NAME);
    print_text("The update to version %s could not be put in place; %s starts as it was (%s says why).\n",
               read->version, APP_PRODUCT_NAME, log);
    *claim = claim_when_free(install_folder);
    *starting = *claim ? mark_course_starting(install_folder) : NULL;
    return 1;
}

int run_start(void)
{
    char install_folder[FILE_PATH_CAPACITY];
    format_program_folder(install_folder);
    SetConsoleTitleA(APP_PRODUCT_NAME);
    if (UPDATES_URL[0])
        remove_previous_setup(install_folder);
    HANDLE claim = claim_when_free(install_folder);
    if (!claim) {
        say_setup_at_work();
        return 1;
    }
    HANDLE starting = mark_course_starting(install_folder);
    /* Never on a mix of two versions: where the update that stopped cannot
     * be finished or undone, the learner is told to run the setup again. */
    if (recover_update(install_folder) != 0) {
        int refused = refuse_start_on(&WINDOWS_START_PLATFORM, &START_TIMING, install_folder, UPDATE_HALF_DONE);
        if (starting)
            CloseHandle(starting);
        CloseHandle(claim);
        return refused;
    }
    update_document waiting;
    HANDLE alone = NULL;
    if (update_to_apply(install_folder, &waiting, &alone) == 0) {
        int applied = apply_update(install_folder, &waiting, &claim, &starting);
        CloseHandle(alone);
        if (applied == 0)
            return start_new_version(install_folder);
        if (!claim) {
            say_setup_at_work();
            return 1;
        }
    }
    int status = start_course_on(&WINDOWS_START_PLATFORM, &START_TIMING, install_folder) != 0;
    if (starting)
        CloseHandle(starting);
    CloseHandle(claim);
    /* The course is open: the check is out of the learner's way. */
    if (status == 0) {
        char kept[FILE_PATH_CAPACITY];
        format_kept_program(kept, install_folder);
        start_update_check(install_folder, kept);
    }
    return status;
}
