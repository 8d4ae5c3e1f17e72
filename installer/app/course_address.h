/* Where the course answers on the learner's own computer: COURSE_URL's host
 * and port, as a connection asks for them. */
#ifndef QUILLBY_COURSE_ADDRESS_H
#define QUILLBY_COURSE_ADDRESS_H

enum {
    /* A host name (RFC 1035: at most 253 characters), or an IPv6 address. */
    COURSE_HOST_CAPACITY = 256,
    /* A port in decimal: at most five digits. */
    COURSE_PORT_CAPACITY = 6,
};

typedef struct {
    char host[COURSE_HOST_CAPACITY]; /* without an IPv6 address's brackets */
    char port[COURSE_PORT_CAPACITY]; /* "80" where the address names none */
} course_address;

/* The host and port of url (an http address). Returns 1, address empty, for
 * an address whose host or port does not fit or is not there. */
int parse_course_address(const char *url, course_address *address);

#endif
