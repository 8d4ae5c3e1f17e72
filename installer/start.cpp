/* The course's start: the install folder claimed, an update that stopped
 * half-way finished or undone, then the server and the browser. */
#include "start.h"

#include <windows.h>

#include "app/install_folder.h"
#include "app/start_seam.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "update/staged_moves.h"
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

int run_start(void)
{
    char install_folder[FILE_PATH_CAPACITY];
    format_program_folder(install_folder);
    SetConsoleTitleA(APP_PRODUCT_NAME);
    HANDLE claim = claim_when_free(install_folder);
    if (!claim) {
        print_text("A setup is at work on %s in another window; start the course again once it is done.\n",
                   APP_PRODUCT_NAME);
        return 1;
    }
    HANDLE starting = mark_course_starting(install_folder);
    /* Never on a mix of two versions: where the update that stopped cannot
     * be finished or undone, the learner is told to run the setup again. */
    int status = recover_update(install_folder) != 0
                     ? refuse_start_on(&WINDOWS_START_PLATFORM, &START_TIMING, install_folder, UPDATE_HALF_DONE)
                     : start_course_on(&WINDOWS_START_PLATFORM, &START_TIMING, install_folder) != 0;
    if (starting)
        CloseHandle(starting);
    CloseHandle(claim);
    return status;
}
