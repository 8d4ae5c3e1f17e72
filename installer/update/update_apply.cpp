/* The downloaded update put in place by the setup it brought, which
 * installs from the archives beside it through the staged apply: with no
 * network, and all or nothing. */
#include "update/update_apply.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/manifest.h"
#include "sha256.h"
#include "update/update_state.h"
#include "windows/folder_tree.h"
#include "windows/whole_file.h"

/* Far beyond what an installation from files at hand takes. */
static const unsigned long APPLY_TIME_LIMIT_MS = 30ul * 60 * 1000;

/* Where the kept setup goes while the new one takes its name: a running
 * program may be renamed, not replaced. The next start removes it. */
static const char PREVIOUS_SETUP_NAME[] = "setup-previous.exe";

int find_waiting_update(const char *install_folder, long long now, update_document *read)
{
    char path[FILE_PATH_CAPACITY];
    format_downloaded_path(path, install_folder, UPDATE_DOCUMENT_NAME);
    size_t length;
    char *document = read_whole_file(path, UPDATE_DOCUMENT_LIMIT, &length);
    cng_library cng;
    if (!document || cng_load(&cng) != 0) {
        free(document);
        return 1;
    }
    update_state state;
    read_update_state(install_folder, &state);
    update_trust trust;
    make_update_trust(&state, &trust);
    int waiting = judge_update_document(&cng, document, length, &trust, now, read) == UPDATE_ACCEPTED;
    cng_unload(&cng);
    free(document);
    format_downloaded_path(path, install_folder, UPDATE_SETUP_NAME);
    char *setup = waiting ? read_whole_file(path, (size_t)UPDATE_SETUP_LIMIT, &length) : NULL;
    char digest[SHA256_TEXT_CAPACITY];
    if (setup)
        sha256_hex(setup, length, digest);
    waiting = setup && strcmp(digest, read->setup.sha256) == 0;
    free(setup);
    return !waiting;
}

int apply_waiting_update(const char *install_folder, const char *kept, const update_document *read)
{
    char previous[FILE_PATH_CAPACITY], setup[FILE_PATH_CAPACITY];
    format_update_path(previous, install_folder, PREVIOUS_SETUP_NAME);
    format_downloaded_path(setup, install_folder, UPDATE_SETUP_NAME);
    int status = 1;
    if (MoveFileExA(kept, previous, MOVEFILE_REPLACE_EXISTING)) {
        status = run_logged(install_folder, setup, APPLY_UPDATE_SWITCH, APPLY_TIME_LIMIT_MS);
        /* The new setup copies itself in only once all else is in place. */
        if (GetFileAttributesA(kept) == INVALID_FILE_ATTRIBUTES)
            MoveFileExA(previous, kept, MOVEFILE_REPLACE_EXISTING);
    }
    /* Tried once, whatever came of it: a document whose setup carries a
     * lower sequence than its own would otherwise be taken every day. */
    update_state state;
    read_update_state(install_folder, &state);
    state.tried = read->sequence;
    write_update_state(install_folder, &state);
    if (status != 0) {
        char line[UPDATE_VERSION_CAPACITY + 96];
        snprintf(line, sizeof line, "Version %s could not be put in place; version %s stays.\r\n", read->version,
                 APP_VERSION);
        append_update_log(install_folder, line);
    }
    char folder[FILE_PATH_CAPACITY];
    format_update_path(folder, install_folder, UPDATE_DOWNLOAD_FOLDER);
    remove_folder_tree(folder);
    return status;
}

void remove_previous_setup(const char *install_folder)
{
    char previous[FILE_PATH_CAPACITY];
    format_update_path(previous, install_folder, PREVIOUS_SETUP_NAME);
    DeleteFileA(previous);
}
