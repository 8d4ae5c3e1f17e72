/* The installation: folders, verified downloads, unpacking, then the launcher.
 *
 * Layout under the install folder: dl\ keeps every verified archive, python\
 * holds the unpacked runtime, and the payload archives unpack into the install
 * folder itself. Every archive is fetched and verified before any is
 * unpacked, so an update that fails on the way leaves the installation
 * before it whole. A rerun repeats every step and overwrites what is there,
 * then removes what the run before brought and this one does not. */
#include "install.h"

#include <windows.h>
#include <stdio.h>

#include "app/course_bytecode.h"
#include "app/folder_tree.h"
#include "app/install_folder.h"
#include "app/launcher.h"
#include "app/uninstall_entry.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "download/fetch_archive.h"
#include "update/clean_update.h"
#include "update/runtime_path_file.h"
#include "windows/install_guards.h"
#include "windows/powershell_command.h"
#include "windows/run_hidden.h"
#include "zip/unpacked_check.h"
#include "zip/zip_unpack.h"

/* Far beyond what unpacking any course takes, short of for ever. */
static const unsigned long UNPACK_TIME_LIMIT_MS = 30ul * 60 * 1000;

/* Unpacks archive into destination, PowerShell starting in the install
 * folder, and holds what came out to the archive's own word; where that
 * fails (Group Policy keeps PowerShell's archive module from loading, an
 * entry was skipped), the setup unpacks it itself and says so. A failure
 * names the download by label. */
static int unpack(const char *archive, const char *destination, const char *install_folder, const char *label)
{
    char command[EXTRACTION_COMMAND_CAPACITY];
    char powershell[MAX_PATH];
    char message[ADDRESS_CAPACITY];
    format_extraction_command(command, archive, destination);
    if (run_hidden(powershell_program(powershell), command, install_folder, UNPACK_TIME_LIMIT_MS) == 0 &&
        check_unpacked(archive, destination) == 0)
        return 0;
    if (unpack_zip(archive, destination) == 0 && check_unpacked(archive, destination) == 0) {
        snprintf(message, sizeof message, "PowerShell could not unpack %s; this setup unpacked it itself.", label);
        say(message);
        return 0;
    }
    snprintf(message, sizeof message, "Could not unpack %s.", label);
    say(message);
    return 1;
}

/* Everything from the folders to the start of the course, on a folder that
 * this setup alone installs to. */
static int install_into(const char *install_folder)
{
    char download_folder[FOLDER_CAPACITY];
    snprintf(download_folder, sizeof download_folder, "%s\\dl", install_folder);
    /* An existing folder is no obstacle; a folder that cannot be made shows up
     * as the download's own failure to write its file. */
    CreateDirectoryA(install_folder, NULL);
    CreateDirectoryA(download_folder, NULL);

    char runtime_archive[FILE_PATH_CAPACITY];
    snprintf(runtime_archive, sizeof runtime_archive, "%s\\python.zip", download_folder);
    if (fetch_archive(PYTHON_URL, runtime_archive, PYTHON_SHA256, PYTHON_LABEL) != 0)
        return 1;
    for (size_t i = 0; i < PARTS_COUNT; i++) {
        char address[ADDRESS_CAPACITY];
        char archive_file[FILE_PATH_CAPACITY];
        snprintf(address, sizeof address, "%s/%s", PAYLOAD_BASE_URL, PARTS[i].name);
        snprintf(archive_file, sizeof archive_file, "%s\\%s", download_folder, PARTS[i].name);
        if (fetch_archive(address, archive_file, PARTS[i].checksum, PARTS[i].name) != 0)
            return 1;
    }

    char runtime_folder[FOLDER_CAPACITY];
    snprintf(runtime_folder, sizeof runtime_folder, "%s\\python", install_folder);
    CreateDirectoryA(runtime_folder, NULL);
    if (unpack(runtime_archive, runtime_folder, install_folder, PYTHON_LABEL) != 0)
        return 1;
    if (extend_runtime_path(runtime_folder) != 0) {
        char message[ADDRESS_CAPACITY];
        snprintf(message, sizeof message, "Could not put the course on the path of %s.", PYTHON_LABEL);
        say(message);
        return 1;
    }

    for (size_t i = 0; i < PARTS_COUNT; i++) {
        char archive_file[FILE_PATH_CAPACITY];
        snprintf(archive_file, sizeof archive_file, "%s\\%s", download_folder, PARTS[i].name);
        if (unpack(archive_file, install_folder, install_folder, PARTS[i].name) != 0)
            return 1;
    }

    remove_python_caches(install_folder);
    clean_update(install_folder, download_folder, runtime_archive, runtime_folder);
    compile_course(install_folder);
    register_installation(install_folder);
    finish_install(install_folder);
    return 0;
}

int run_install(void)
{
    say(APP_TITLE);
    say(APP_TAGLINE);

    char install_folder[FOLDER_CAPACITY];
    format_install_folder(install_folder);
    HANDLE claim;
    if (guard_install_folder(install_folder, &claim) != 0)
        return 1;
    int status = install_into(install_folder);
    if (claim)
        CloseHandle(claim);
    return status;
}
