/* The check for a newer version: the document asked for, judged, and the
 * files it names fetched by their digests into a folder of their own, the
 * document written last, so that the next start finds either a whole
 * update or none. */
#include "update_check.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/capacities.h"
#include "common/console.h"
#include "common/manifest.h"
#include "download/download.h"
#include "download/download_seam.h"
#include "download/fetch_archive.h"
#include "download/fetch_small.h"
#include "update/update_state.h"
#include "windows/folder_tree.h"
#include "windows/install_guards.h"
#include "windows/whole_file.h"

/* Where an archive goes in the download folder: where the new setup looks
 * for it beside itself. 0, or 1 for an address whose last segment is no
 * plain name or one the folder keeps for itself. *name is its name there. */
static int archive_path(const char *folder, const update_file *file, char path[FILE_PATH_CAPACITY],
                        const char **name)
{
    if (format_file_beside(folder, file->address, path) != 0)
        return 1;
    *name = path + strlen(folder) + 1;
    return strpbrk(*name, "\\/:%") || strcmp(*name, ".") == 0 || strcmp(*name, "..") == 0 ||
           _stricmp(*name, UPDATE_SETUP_NAME) == 0 || _stricmp(*name, UPDATE_DOCUMENT_NAME) == 0;
}

/* The archive, from the download folder when it holds this very one (the
 * runtime or a part this version pinned too), else from its address. */
static int fetch_update_archive(const wininet_library *internet, const char *install_folder,
                                const update_file *file, const char *path, const char *name)
{
    char kept[FILE_PATH_CAPACITY];
    if (strcmp(file->sha256, PYTHON_SHA256) == 0) {
        snprintf(kept, sizeof kept, "%s\\dl\\python.zip", install_folder);
        if (copy_and_verify(kept, path, file->sha256, name) == 0)
            return 0;
    }
    for (size_t i = 0; i < PARTS_COUNT; i++) {
        snprintf(kept, sizeof kept, "%s\\dl\\%s", install_folder, PARTS[i].name);
        if (strcmp(file->sha256, PARTS[i].checksum) == 0 && copy_and_verify(kept, path, file->sha256, name) == 0)
            return 0;
    }
    return download_over(internet, &RETRY_PAUSES, file->address, path, file->sha256, file->size, name);
}

/* Every file the document names into the download folder, emptied first
 * of any earlier update's; then the document. */
static int download_update(const wininet_library *internet, const char *install_folder,
                           const update_document *read, const char *document, size_t length)
{
    char folder[FILE_PATH_CAPACITY], path[FILE_PATH_CAPACITY];
    format_update_path(folder, install_folder, UPDATE_DOWNLOAD_FOLDER);
    if (remove_folder_tree(folder) != 0 || !CreateDirectoryA(folder, NULL))
        return 1;
    format_downloaded_path(path, install_folder, UPDATE_SETUP_NAME);
    if (download_over(internet, &RETRY_PAUSES, read->setup.address, path, read->setup.sha256, read->setup.size,
                      "the new setup") != 0)
        return 1;
    for (size_t i = 0; i < read->archives_count; i++) {
        const char *name;
        if (archive_path(folder, &read->archives[i], path, &name) != 0) {
            print_text("%s names no file this setup can keep.\n", read->archives[i].address);
            return 1;
        }
        if (fetch_update_archive(internet, install_folder, &read->archives[i], path, name) != 0)
            return 1;
    }
    format_downloaded_path(path, install_folder, UPDATE_DOCUMENT_NAME);
    if (replace_whole_file(path, document, length) != 0)
        return 1;
    print_text("Version %s is downloaded; the next start puts it in place.\n", read->version);
    return 0;
}

/* Whether the update waiting whole in the download folder is the one
 * this document names: the document there is this very one. */
static int downloaded_already(const char *install_folder, const char *document, size_t length)
{
    char path[FILE_PATH_CAPACITY];
    format_downloaded_path(path, install_folder, UPDATE_DOCUMENT_NAME);
    size_t kept_length;
    char *kept = read_whole_file(path, UPDATE_DOCUMENT_LIMIT, &kept_length);
    int same = kept && kept_length == length && memcmp(kept, document, length) == 0;
    free(kept);
    return same;
}

int check_for_update(const wininet_library *internet, const cng_library *cng, const char *install_folder,
                     long long now)
{
    update_state state;
    read_update_state(install_folder, &state);
    SYSTEMTIME today;
    GetSystemTime(&today);
    print_text("%04u-%02u-%02u %02u:%02u UTC: asking %s for a newer version (this one: %s, update %lu).\n",
               today.wYear, today.wMonth, today.wDay, today.wHour, today.wMinute, UPDATES_URL, APP_VERSION,
               UPDATE_SEQUENCE);
    char document[UPDATE_DOCUMENT_LIMIT + 1];
    size_t length;
    int fetched = fetch_small(internet, UPDATES_URL, UPDATE_ASK_TIMEOUT_MS, document, sizeof document, &length);
    /* No answer is no check: the next start asks again. */
    if (fetched == FETCHED_NOTHING)
        return 1;
    state.checked = now;
    update_trust trust;
    make_update_trust(&state, &trust);
    update_document read;
    update_verdict verdict = fetched == FETCHED_TOO_LARGE
                                 ? UPDATE_TOO_LARGE
                                 : judge_update_document(cng, document, length, &trust, now, &read);
    say(UPDATE_VERDICT_TEXT[verdict]);
    if (verdict == UPDATE_ACCEPTED && read.names_next_key)
        trust_rotated_key(&state, read.next_key);
    write_update_state(install_folder, &state);
    if (verdict != UPDATE_ACCEPTED)
        return 1;
    if (downloaded_already(install_folder, document, length)) {
        print_text("Version %s is downloaded already.\n", read.version);
        return 0;
    }
    return download_update(internet, install_folder, &read, document, length);
}

void start_update_check(const char *install_folder, const char *program)
{
    update_state state;
    read_update_state(install_folder, &state);
    if (!UPDATES_URL[0] || !update_check_due(&state, seconds_now()))
        return;
    HANDLE check = start_logged(install_folder, program, CHECK_UPDATE_SWITCH);
    if (check)
        CloseHandle(check);
}

int run_update_check(const char *install_folder)
{
    HANDLE alone = claim_update_work(install_folder);
    if (!alone)
        return 1;
    wininet_library internet;
    cng_library cng;
    int status = 1;
    if (wininet_load(&internet) != 0) {
        say("Could not open an internet connection.");
    } else if (cng_load(&cng) != 0) {
        say("Windows' signature verification (bcrypt.dll) could not be loaded.");
    } else {
        status = check_for_update(&internet, &cng, install_folder, seconds_now());
        cng_unload(&cng);
    }
    if (internet.module)
        wininet_unload(&internet);
    CloseHandle(alone);
    return status;
}
