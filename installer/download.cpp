/* Fetches one archive over HTTPS and accepts it only by its pinned SHA-256.
 * The digest is taken in the same pass that writes the file, from the bytes
 * as received, so the file is never read back. */
#include "download.h"

#include <stdio.h>
#include <string.h>

#include "manifest.h"
#include "say.h"
#include "sha256.h"
#include "wininet_library.h"

enum { TRANSFER_BUFFER_SIZE = 16384, PROGRESS_EVERY = 524288 };

/* Always from the server, never from or into the local HTTP cache, over TLS. */
static const DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;

int download_and_verify(const char *url, const char *path, const char *expected, const char *label)
{
    wininet_library internet;
    if (wininet_load(&internet) != 0) {
        say("Could not open an internet connection.");
        return 1;
    }
    HINTERNET session = internet.open(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!session) {
        say("Could not open an internet connection.");
        wininet_unload(&internet);
        return 1;
    }
    HINTERNET request = internet.open_url(session, url, NULL, 0, OPEN_URL_FLAGS, 0);
    if (!request) {
        say("Could not reach the download address. Check the internet connection and try again.");
        internet.close_handle(session);
        wininet_unload(&internet);
        return 1;
    }
    FILE *file = fopen(path, "wb");
    if (!file) {
        say("Could not write the download file.");
        internet.close_handle(request);
        internet.close_handle(session);
        wininet_unload(&internet);
        return 1;
    }

    sha256_ctx ctx;
    unsigned char buffer[TRANSFER_BUFFER_SIZE];
    DWORD got = 0;
    long long total = 0;
    /* A full disk must not leave a truncated archive that the network digest
     * would still vouch for, so every write and the close are checked. */
    int write_failed = 0;

    sha256_init(&ctx);
    printf("Downloading %s ... ", label);
    fflush(stdout);
    while (internet.read_file(request, buffer, sizeof buffer, &got) && got > 0) {
        if (!write_failed && fwrite(buffer, 1, got, file) != got)
            write_failed = 1;
        sha256_update(&ctx, buffer, got);
        total += got;
        if (total % PROGRESS_EVERY < TRANSFER_BUFFER_SIZE) {
            printf("\rDownloading %s ... %lld KB", label, total / 1024);
            fflush(stdout);
        }
    }
    printf("\rDownloading %s ... %lld KB, done.          \n", label, total / 1024);

    if (fclose(file) != 0)
        write_failed = 1;
    internet.close_handle(request);
    internet.close_handle(session);
    wininet_unload(&internet);

    if (write_failed) {
        say("Could not write the download file.");
        DeleteFileA(path);
        return 1;
    }

    unsigned char digest[32];
    char actual[65];
    sha256_final(&ctx, digest);
    sha256_digest_text(digest, actual);
    if (strcmp(actual, expected) == 0) {
        printf("Checksum verified for %s.\n", label);
        return 0;
    }
    printf("CHECK FAILED for %s.\nExpected checksum %s\nDownload gave    %s\n"
           "The file was deleted and nothing was installed.\n",
           label, expected, actual);
    DeleteFileA(path);
    return 1;
}
