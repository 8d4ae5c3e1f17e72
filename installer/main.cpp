/* Entry point: "--selftest" as the first argument proves the SHA-256 engine,
 * "--uninstall" removes the course, "--start" starts it (the launcher's
 * call), "--serve" is its server's window, "--check-update" asks for its
 * next version and "--apply-update" installs a downloaded one without
 * starting it; anything else installs it. */
#include <windows.h>
#include <string.h>

#include "app/course_server.h"
#include "app/course_start.h"
#include "app/install_folder.h"
#include "app/uninstall.h"
#include "install.h"
#include "start.h"
#include "selftest.h"
#include "update/update_apply.h"
#include "update_check.h"

int main(int argc, char **argv)
{
    /* Before anything loads a DLL: only the system folder, never the folder
     * the program was downloaded to, nor the current one. */
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (argc >= 2 && strcmp(argv[1], "--selftest") == 0)
        return run_selftest();
    if (argc >= 2 && strcmp(argv[1], UNINSTALL_SWITCH) == 0)
        return run_uninstall(argc >= 3 ? argv[2] : NULL, argc >= 4 ? argv[3] : NULL);
    if (argc >= 2 && strcmp(argv[1], START_SWITCH) == 0)
        return run_start();
    if (argc >= 2 && strcmp(argv[1], SERVE_SWITCH) == 0)
        return run_serve();
    if (argc >= 2 && strcmp(argv[1], CHECK_UPDATE_SWITCH) == 0) {
        char install_folder[FILE_PATH_CAPACITY];
        format_program_folder(install_folder);
        return run_update_check(install_folder);
    }
    return run_install(!(argc >= 2 && strcmp(argv[1], APPLY_UPDATE_SWITCH) == 0));
}
