/* Fetches one archive over HTTPS and accepts it only by its pinned SHA-256.
 * The digest is taken in the same pass that writes the file, from the bytes
 * as received, so the file is never read back. */
#include "download.h"

#include <stdio.h>
#include <string.h>

#include "console.h"
#include "manifest.h"
#include "sha256.h"
#include "wininet_library.h"

enum { TRANSFER_BUFFER_SIZE = 16384, PROGRESS_EVERY = 524288 };

/* Always from the server, never from or into the local HTTP cache, over TLS. */
static const DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;

/* A server that stops sending is given up on after two minutes, whatever the
 * machine's own setting: long enough for a slow mobile link. */
static const DWORD RECEIVE_TIMEOUT_MS = 120000;

enum { TRANSFER_DONE, TRANSFER_NO_FILE, TRANSFER_WRITE_FAILED };

/* Where the request ended up after any redirects is still https: a redirect
 * to plain http would show the learner's download to the network. */
static int ends_on_https(const wininet_library *internet, HINTERNET request)
{
    char final_url[INTERNET_MAX_URL_LENGTH];
    DWORD length = sizeof final_url;
    return internet->query_option(request, INTERNET_OPTION_URL, final_url, &length) &&
           _strnicmp(final_url, "https://", 8) == 0;
}

/* Opens url on a fresh session; on failure says why and leaves nothing open. */
static int open_download(const wininet_library *internet, const char *url, HINTERNET *session, HINTERNET *request)
{
    *session = internet->open(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!*session) {
        say("Could not open an internet connection.");
        return 1;
    }
    DWORD timeout = RECEIVE_TIMEOUT_MS;
    internet->set_option(*session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    *request = internet->open_url(*session, url, NULL, 0, OPEN_URL_FLAGS, 0);
    if (*request && !ends_on_https(internet, *request)) {
        internet->close_handle(*request);
        *request = NULL;
    }
    if (!*request) {
        say("Could not reach the download address. Check the internet connection and try again.");
        internet->close_handle(*session);
        return 1;
    }
    return 0;
}

/* Streams the body into the file at path and into ctx, with progress lines.
 * A full disk must not leave a truncated archive that the digest of the
 * network bytes would vouch for, so every write and the close are checked;
 * the first failed write ends the transfer, which could otherwise go on
 * without end against a body that never ends. */
static int transfer(const wininet_library *internet, HINTERNET request, const char *path, const char *label,
                    sha256_ctx *ctx)
{
    FILE *file = fopen(path, "wb");
    if (!file)
        return TRANSFER_NO_FILE;
    unsigned char buffer[TRANSFER_BUFFER_SIZE];
    DWORD got = 0;
    long long total = 0;
    int outcome = TRANSFER_DONE;

    sha256_init(ctx);
    print_text("Downloading %s ... ", label);
    fflush(stdout);
    while (internet->read_file(request, buffer, sizeof buffer, &got) && got > 0) {
        sha256_update(ctx, buffer, got);
        total += got;
        if (fwrite(buffer, 1, got, file) != got) {
            outcome = TRANSFER_WRITE_FAILED;
            break;
        }
        if (total % PROGRESS_EVERY < TRANSFER_BUFFER_SIZE) {
            print_text("\rDownloading %s ... %lld KB", label, total / 1024);
            fflush(stdout);
        }
    }
    print_text("\rDownloading %s ... %lld KB, done.          \n", label, total / 1024);
    if (fclose(file) != 0)
        outcome = TRANSFER_WRITE_FAILED;
    return outcome;
}

static int verify(sha256_ctx *ctx, const char *path, const char *expected, const char *label)
{
    unsigned char digest[32];
    char actual[65];
    sha256_final(ctx, digest);
    sha256_digest_text(digest, actual);
    if (strcmp(actual, expected) == 0) {
        print_text("Checksum verified for %s.\n", label);
        return 0;
    }
    print_text("CHECK FAILED for %s.\nExpected checksum %s\nDownload gave    %s\n"
           "The file was deleted and nothing was installed.\n",
           label, expected, actual);
    DeleteFileA(path);
    return 1;
}

int download_and_verify(const char *url, const char *path, const char *expected, const char *label)
{
    wininet_library internet;
    if (wininet_load(&internet) != 0) {
        say("Could not open an internet connection.");
        return 1;
    }
    HINTERNET session, request;
    if (open_download(&internet, url, &session, &request) != 0) {
        wininet_unload(&internet);
        return 1;
    }
    sha256_ctx ctx;
    int outcome = transfer(&internet, request, path, label, &ctx);
    internet.close_handle(request);
    internet.close_handle(session);
    wininet_unload(&internet);

    if (outcome == TRANSFER_DONE)
        return verify(&ctx, path, expected, label);
    say("Could not write the download file.");
    if (outcome == TRANSFER_WRITE_FAILED)
        DeleteFileA(path);
    return 1;
}
