/* COURSE_URL's host and port: the authority between "//" and the first
 * "/", "?" or "#" (RFC 3986), its port after the last colon outside an IPv6
 * address's brackets. */
#include "app/course_address.h"

#include <string.h>

static const char HTTP_DEFAULT_PORT[] = "80";

int parse_course_address(const char *url, course_address *address)
{
    address->host[0] = address->port[0] = '\0';
    const char *start = strstr(url, "//");
    if (!start)
        return 1;
    start += 2;
    size_t length = strcspn(start, "/?#");
    /* Past any user information: a local address has none, and its @ would
     * otherwise be taken for a part of the host. */
    const char *at = (const char *)memchr(start, '@', length);
    if (at) {
        length -= (size_t)(at + 1 - start);
        start = at + 1;
    }
    const char *host = start, *host_end = start + length, *port = NULL;
    if (*host == '[') {
        const char *close = (const char *)memchr(host, ']', length);
        if (!close)
            return 1;
        port = close + 1 < host_end && close[1] == ':' ? close + 2 : NULL;
        host += 1;
        host_end = close;
    } else {
        const char *colon = (const char *)memchr(host, ':', length);
        if (colon) {
            port = colon + 1;
            host_end = colon;
        }
    }
    size_t port_length = port ? (size_t)(start + length - port) : sizeof HTTP_DEFAULT_PORT - 1;
    if (host_end == host || (size_t)(host_end - host) >= COURSE_HOST_CAPACITY || port_length == 0 ||
        port_length >= COURSE_PORT_CAPACITY)
        return 1;
    memcpy(address->host, host, (size_t)(host_end - host));
    address->host[host_end - host] = '\0';
    memcpy(address->port, port ? port : HTTP_DEFAULT_PORT, port_length);
    address->port[port_length] = '\0';
    return 0;
}
