/* Fetches one archive over HTTPS and accepts it only by its pinned SHA-256.
 * The digest is taken in the same pass that writes the file, from the bytes
 * as received, so the file is never read back. A transfer that breaks off
 * goes on where the server allows it and starts over where it does not, so
 * the digest always covers exactly the bytes in the file and the pin alone
 * judges them. */
#include "download.h"
#include "download_seam.h"

#include <stdio.h>
#include <string.h>

#include "console.h"
#include "manifest.h"
#include "sha256.h"

enum { TRANSFER_BUFFER_SIZE = 16384, PROGRESS_EVERY = 524288 };

/* Always from the server, never from or into the local HTTP cache, over TLS. */
static const DWORD OPEN_URL_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;

/* A server that stops sending is given up on after two minutes, whatever the
 * machine's own setting: long enough for a slow mobile link. */
static const DWORD RECEIVE_TIMEOUT_MS = 120000;

/* As WiX Burn and rustup wait: a dropped Wi-Fi link is often back within
 * seconds, and a server in trouble is not pressed. */
const retry_pauses RETRY_PAUSES = {{1000, 2000, 4000}};

/* The failures of a fresh request that the next one may get past: the
 * network's, never the server's identity (an untrusted certificate stays
 * untrusted, a redirect to http stays one). */
static const DWORD PASSING_FAILURES[] = {
    ERROR_INTERNET_TIMEOUT,           ERROR_INTERNET_NAME_NOT_RESOLVED,  ERROR_INTERNET_CANNOT_CONNECT,
    ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_CONNECTION_RESET, ERROR_HTTP_INVALID_SERVER_RESPONSE,
    ERROR_INTERNET_DISCONNECTED,
};

/* "Range: bytes=N-" and its line end, a Content-Range "bytes N-M/T" and a
 * Content-Length, with every number of up to 19 digits. */
enum { RANGE_HEADER_CAPACITY = 48, CONTENT_RANGE_CAPACITY = 96, CONTENT_LENGTH_CAPACITY = 32 };

enum { BODY_ENDED, BODY_BROKE, BODY_WRITE_FAILED };

/* Where the bytes go: the file, the running digest and the progress line. */
typedef struct {
    FILE *file;
    sha256_ctx ctx;
    long long total;
    const char *verb;
    const char *label;
} sink;

/* Where the request ended up after any redirects is still https: a redirect
 * to plain http would show the learner's download to the network. */
static int ends_on_https(const wininet_library *internet, HINTERNET request)
{
    /* INTERNET_MAX_URL_LENGTH counts characters, the terminator not among them. */
    char final_url[INTERNET_MAX_URL_LENGTH + 1];
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

/* The decimal count at *text, moving *text past it; -1 when there is none.
 * Eighteen digits at most, so it cannot overflow. */
static long long read_count(const char **text)
{
    const char *start = *text;
    long long count = 0;
    while (**text >= '0' && **text <= '9' && *text - start < 18)
        count = count * 10 + (*(*text)++ - '0');
    return *text == start ? -1 : count;
}

/* Where this answer's body ends in the file, when it starts at start: from
 * its Content-Length; -1 when it announced none. */
static long long body_end(const wininet_library *internet, HINTERNET request, long long start)
{
    char text[CONTENT_LENGTH_CAPACITY];
    DWORD length = sizeof text;
    if (!internet->query_info(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, NULL))
        return -1;
    const char *at = text;
    long long count = read_count(&at);
    return count >= 0 && *at == '\0' ? start + count : -1;
}

/* Where the answer to a request for the rest from byte from belongs in the
 * file: at from when it is that rest (a 206 whose Content-Range starts
 * there); at byte 0, as the whole file anew, when it is anything else. */
static long long body_start(const wininet_library *internet, HINTERNET request, long long from)
{
    DWORD status = 0, length = sizeof status;
    if (!internet->query_info(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, NULL) ||
        status != HTTP_STATUS_PARTIAL_CONTENT)
        return 0;
    char range[CONTENT_RANGE_CAPACITY];
    length = sizeof range;
    if (!internet->query_info(request, HTTP_QUERY_CONTENT_RANGE, range, &length, NULL) ||
        _strnicmp(range, "bytes ", 6) != 0)
        return 0;
    const char *at = range + 6;
    return read_count(&at) == from && *at == '-' ? from : 0;
}

static int open_sink(sink *to, const char *path, const char *verb, const char *label)
{
    to->file = fopen(path, "wb");
    if (!to->file)
        return 1;
    sha256_init(&to->ctx);
    to->total = 0;
    to->verb = verb;
    to->label = label;
    print_text("%s %s ... ", verb, label);
    fflush(stdout);
    return 0;
}

/* Empties the file and the digest for a body that is the whole file anew. */
static int start_over(sink *to, const char *path)
{
    fclose(to->file);
    to->file = fopen(path, "wb");
    sha256_init(&to->ctx);
    to->total = 0;
    return to->file ? 0 : 1;
}

/* Hashes, counts and writes one read, with the progress line every 512 KB.
 * A full disk must not leave a truncated archive that the digest of the
 * bytes received would vouch for, so every write is checked. */
static int take(sink *to, const unsigned char *bytes, DWORD count)
{
    sha256_update(&to->ctx, bytes, count);
    to->total += count;
    if (fwrite(bytes, 1, count, to->file) != count)
        return 1;
    if (to->total % PROGRESS_EVERY < TRANSFER_BUFFER_SIZE) {
        print_text("\r%s %s ... %lld KB", to->verb, to->label, to->total / 1024);
        fflush(stdout);
    }
    return 0;
}

/* The closing line; 1 when the file could not be closed whole. */
static int close_sink(sink *to)
{
    print_text("\r%s %s ... %lld KB, done.          \n", to->verb, to->label, to->total / 1024);
    return !to->file || fclose(to->file) != 0;
}

/* Reads one answer's body into the sink. It broke when it ends short of end
 * (-1: no end announced), or when a read fails before end: once every byte
 * announced is in, a connection reset has taken nothing. The first failed
 * write ends it, which could otherwise go on without end against a body
 * that never ends. */
static int read_body(const wininet_library *internet, HINTERNET request, long long end, sink *to)
{
    unsigned char buffer[TRANSFER_BUFFER_SIZE];
    DWORD got = 0;
    while (internet->read_file(request, buffer, sizeof buffer, &got)) {
        if (got == 0)
            return end >= 0 && to->total < end ? BODY_BROKE : BODY_ENDED;
        if (take(to, buffer, got) != 0)
            return BODY_WRITE_FAILED;
    }
    return end >= 0 && to->total >= end ? BODY_ENDED : BODY_BROKE;
}

static int passes(DWORD error)
{
    for (size_t i = 0; i < sizeof PASSING_FAILURES / sizeof PASSING_FAILURES[0]; i++)
        if (PASSING_FAILURES[i] == error)
            return 1;
    return 0;
}

/* Reads the first answer, then after each break asks afresh for the rest,
 * as long as requests remain and the failures are the network's. */
static int transfer(const wininet_library *internet, const retry_pauses *pauses, HINTERNET session,
                    HINTERNET request, const char *url, const char *path, sink *to)
{
    int body = read_body(internet, request, body_end(internet, request, 0), to);
    internet->close_handle(request);
    for (int fresh = 0; body == BODY_BROKE && fresh < FRESH_REQUESTS; fresh++) {
        Sleep(pauses->before_request_ms[fresh]);
        char range[RANGE_HEADER_CAPACITY];
        snprintf(range, sizeof range, "Range: bytes=%lld-\r\n", to->total);
        request = internet->open_url(session, url, range, (DWORD)strlen(range), OPEN_URL_FLAGS, 0);
        if (!request) {
            if (!passes(GetLastError()))
                break;
            continue;
        }
        if (!ends_on_https(internet, request)) {
            internet->close_handle(request);
            break;
        }
        long long start = body_start(internet, request, to->total);
        if (start != to->total && start_over(to, path) != 0)
            body = BODY_WRITE_FAILED;
        else
            body = read_body(internet, request, body_end(internet, request, start), to);
        internet->close_handle(request);
    }
    return body;
}

/* The verdict; a transfer that kept breaking says so before it, in words a
 * learner can act on, so the failure does not read as tampering. */
static int verify(sink *from, const char *path, const char *expected, int broke)
{
    unsigned char digest[32];
    char actual[65];
    sha256_final(&from->ctx, digest);
    sha256_digest_text(digest, actual);
    if (strcmp(actual, expected) == 0) {
        print_text("Checksum verified for %s.\n", from->label);
        return 0;
    }
    if (broke)
        print_text("The connection kept breaking off while downloading %s. "
                   "Run this setup again when the connection is steadier.\n",
                   from->label);
    print_text("CHECK FAILED for %s.\nExpected checksum %s\nDownload gave    %s\n"
               "The file was deleted and nothing was installed.\n",
               from->label, expected, actual);
    DeleteFileA(path);
    return 1;
}

/* After the closing line: a file not written whole is deleted, else judged. */
static int finish(sink *to, int body, const char *path, const char *expected)
{
    if (close_sink(to) != 0)
        body = BODY_WRITE_FAILED;
    if (body != BODY_WRITE_FAILED)
        return verify(to, path, expected, body == BODY_BROKE);
    say("Could not write the download file.");
    DeleteFileA(path);
    return 1;
}

int download_over(const wininet_library *internet, const retry_pauses *pauses, const char *url, const char *path,
                  const char *expected, const char *label)
{
    HINTERNET session, request;
    if (open_download(internet, url, &session, &request) != 0)
        return 1;
    sink to;
    if (open_sink(&to, path, "Downloading", label) != 0) {
        internet->close_handle(request);
        internet->close_handle(session);
        say("Could not write the download file.");
        return 1;
    }
    int body = transfer(internet, pauses, session, request, url, path, &to);
    internet->close_handle(session);
    return finish(&to, body, path, expected);
}

int download_and_verify(const char *url, const char *path, const char *expected, const char *label)
{
    wininet_library internet;
    if (wininet_load(&internet) != 0) {
        say("Could not open an internet connection.");
        return 1;
    }
    int result = download_over(&internet, &RETRY_PAUSES, url, path, expected, label);
    wininet_unload(&internet);
    return result;
}

int copy_and_verify(const char *source, const char *path, const char *expected, const char *label)
{
    FILE *from = fopen(source, "rb");
    if (!from)
        return 1;
    print_text("Found %s beside this setup: %s\n", label, source);
    sink to;
    if (open_sink(&to, path, "Copying", label) != 0) {
        fclose(from);
        say("Could not write the download file.");
        return 1;
    }
    unsigned char buffer[TRANSFER_BUFFER_SIZE];
    size_t got;
    int body = BODY_ENDED;
    while (body == BODY_ENDED && (got = fread(buffer, 1, sizeof buffer, from)) > 0)
        if (take(&to, buffer, (DWORD)got) != 0)
            body = BODY_WRITE_FAILED;
    fclose(from);
    return finish(&to, body, path, expected);
}
