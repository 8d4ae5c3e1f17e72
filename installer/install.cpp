/* The installation: folders, verified downloads, unpacking, then the launcher.
 *
 * Layout under the install folder: dl\ keeps every verified archive, python\
 * holds the unpacked runtime, and the payload archives unpack into the install
 * folder itself. Every archive is fetched and verified, the room for its files
 * checked, and every one unpacked into the staging folder and held to its
 * central directory there, before any earlier file is touched; then the files
 * move into place under a journal, so an update that fails or stops anywhere
 * leaves one whole version. A rerun repeats every step, then removes what the
 * run before brought and this one does not. */
#include "install.h"

#include <windows.h>
#include <stdio.h>

#include "app/course_bytecode.h"
#include "app/install_folder.h"
#include "app/launcher.h"
#include "app/uninstall_entry.h"
#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "download/fetch_archive.h"
#include "update/clean_update.h"
#include "update/runtime_path_file.h"
#include "update/staged_moves.h"
#include "update/staged_update.h"
#include "windows/folder_tree.h"
#include "windows/install_guards.h"
#include "windows/powershell_command.h"
#include "windows/run_hidden.h"
#include "zip/archive_names.h"
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

/* Whether Windows can hold every name of every archive, told before any
 * is unpacked: a part pinned by its digest was never seen by the author's
 * checks, and PowerShell would unpack it as far as the first it cannot. */
static int names_hold(const char *download_folder, const char *runtime_archive)
{
    int status = check_archive_names(runtime_archive, PYTHON_LABEL);
    for (size_t i = 0; i < PARTS_COUNT && status == 0; i++) {
        char archive_file[FILE_PATH_CAPACITY];
        snprintf(archive_file, sizeof archive_file, "%s\\%s", download_folder, PARTS[i].name);
        status = check_archive_names(archive_file, PARTS[i].name);
    }
    return status;
}

/* Unpacks the runtime and every part into the staging folder, as they will
 * lie in the install folder, each held to its archive; on a failure the
 * staging folder goes and 1 is returned, nothing in place touched. */
static int stage(const char *install_folder, const char *download_folder, const char *runtime_archive,
                 const char *runtime_folder)
{
    char staging[FILE_PATH_CAPACITY], staged_runtime[FILE_PATH_CAPACITY];
    /* A journal still there could be neither finished nor undone: every
     * file is put in place anew below. */
    supersede_update(install_folder);
    format_staged_folder(staging, install_folder, install_folder);
    format_staged_folder(staged_runtime, install_folder, runtime_folder);
    CreateDirectoryA(staging, NULL);
    CreateDirectoryA(staged_runtime, NULL);
    int status = unpack(runtime_archive, staged_runtime, install_folder, PYTHON_LABEL);
    if (status == 0 && extend_runtime_path(staged_runtime) != 0) {
        char message[ADDRESS_CAPACITY];
        snprintf(message, sizeof message, "Could not put the course on the path of %s.", PYTHON_LABEL);
        say(message);
        status = 1;
    }
    for (size_t i = 0; i < PARTS_COUNT && status == 0; i++) {
        char archive_file[FILE_PATH_CAPACITY];
        snprintf(archive_file, sizeof archive_file, "%s\\%s", download_folder, PARTS[i].name);
        status = unpack(archive_file, staging, install_folder, PARTS[i].name);
    }
    if (status != 0)
        clear_update_folders(install_folder);
    return status;
}

/* Everything from the folders to the start of the course, on a folder that
 * this setup alone installs to. */
static int install_into(const char *install_folder, int open_course)
{
    char download_folder[FOLDER_CAPACITY];
    snprintf(download_folder, sizeof download_folder, "%s\\dl", install_folder);
    /* An existing folder is no obstacle; a folder that cannot be made shows up
     * as the download's own failure to write its file. */
    CreateDirectoryA(install_folder, NULL);
    CreateDirectoryA(download_folder, NULL);
    /* Before anything else: the course must never be left on a mix. Where
     * that fails the whole installation below puts every file in place. */
    recover_update(install_folder);

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
    if (names_hold(download_folder, runtime_archive) != 0 ||
        room_to_stage(install_folder, download_folder, runtime_archive) != 0 ||
        stage(install_folder, download_folder, runtime_archive, runtime_folder) != 0)
        return 1;
    if (put_staged_update(install_folder, download_folder, runtime_archive, runtime_folder) != 0) {
        clear_update_folders(install_folder);
        return 1;
    }
    remove_python_caches(install_folder);
    clean_update(install_folder, download_folder, runtime_archive, runtime_folder);
    compile_course(install_folder);
    register_installation(install_folder);
    finish_install(install_folder, open_course);
    return 0;
}

int run_install(int open_course)
{
    say(APP_TITLE);
    say(APP_TAGLINE);

    char install_folder[FOLDER_CAPACITY];
    format_install_folder(install_folder);
    HANDLE claim;
    if (guard_install_folder(install_folder, &claim) != 0)
        return 1;
    int status = install_into(install_folder, open_course);
    if (claim)
        CloseHandle(claim);
    return status;
}
