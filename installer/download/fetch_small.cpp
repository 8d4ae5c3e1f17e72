/* A small text over HTTPS, whole into memory, read only as far as its
 * bound: a server that sends without end costs a few kilobytes. */
#include "download/fetch_small.h"

#include "common/console.h"
#include "download/download_seam.h"

int fetch_small(const wininet_library *internet, const char *url, unsigned long timeout_ms, char *buffer,
                size_t capacity, size_t *length)
{
    HINTERNET session, request;
    if (open_download(internet, url, timeout_ms, &session, &request) != 0)
        return FETCHED_NOTHING;
    /* A server that drips is given no longer than one that stays silent. */
    ULONGLONG deadline = GetTickCount64() + timeout_ms;
    DWORD status = status_of(internet, request);
    int result = FETCHED;
    *length = 0;
    if (status != HTTP_STATUS_OK) {
        print_text("The server answered %lu.\n", (unsigned long)status);
        result = FETCHED_NOTHING;
    }
    /* Only what has come is read, so that a read returns as soon as any
     * byte is in and the limit is looked at between them. */
    while (result == FETCHED) {
        DWORD available = 0, got = 0;
        if (!internet->query_data_available(request, &available, 0, 0) ||
            (available > 0 &&
             !internet->read_file(request, buffer + *length,
                                  (DWORD)(available < capacity - *length ? available : capacity - *length), &got))) {
            say("The connection broke off.");
            result = FETCHED_NOTHING;
        } else if (got == 0) {
            break;
        } else if ((*length += got) == capacity) {
            print_text("It holds more than %lu bytes.\n", (unsigned long)(capacity - 1));
            result = FETCHED_TOO_LARGE;
        } else if (GetTickCount64() > deadline) {
            print_text("It was still coming after %lu seconds.\n", timeout_ms / 1000);
            result = FETCHED_NOTHING;
        }
    }
    internet->close_handle(request);
    internet->close_handle(session);
    if (result == FETCHED)
        buffer[*length] = '\0';
    return result;
}
