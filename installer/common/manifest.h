/* The course's constants: everything that ties this installer to one course.
 *
 * They are defined in one unit of their own (the default course in
 * stub_generated.cpp); a test build or another course's build links its own
 * unit in its place and nothing else changes. */
#ifndef QUILLBY_MANIFEST_H
#define QUILLBY_MANIFEST_H

#include <stddef.h>

typedef struct {
    const char *name;     /* file name: last segment of its address, local file name and label */
    const char *checksum; /* pinned SHA-256, 64 lower-case hexadecimal characters */
} payload_part;

extern const char APP_TITLE[];
extern const char APP_TAGLINE[];
extern const char APP_DIR_NAME[];
extern const char USER_AGENT[];
extern const char PYTHON_URL[];
extern const char PYTHON_SHA256[];
extern const char PYTHON_LABEL[];
extern const char PAYLOAD_BASE_URL[]; /* https address with no trailing slash */
extern const char LAUNCHER_NAME[];
extern const char SHORTCUT_NAME[];
extern const char COURSE_URL[];
/* As the program's version resource gives them: the product's name, its
 * version, and its publisher ("" when the course names none). */
extern const char APP_PRODUCT_NAME[];
extern const char APP_VERSION[];
extern const char APP_PUBLISHER[];
/* 1 when the program carries the course's icon as its first: then the
 * shortcut and the apps list show it, from the copy kept in the install
 * folder. */
extern const int COURSE_HAS_ICON;
/* The folder of the install folder that the course's Python packages
 * unpack into (author/build-course --packages), put on the runtime's path. */
extern const char PACKAGES_FOLDER[];

/* Where the installed course asks for its signed update document ("": a
 * course that never asks), this build's place in the course's sequence of
 * updates, and the P-256 public keys a document may be signed with, each
 * as the point's X and Y in 128 lower-case hexadecimal digits: the signing
 * key, then the backup kept offline ("" where the course has none). */
enum { UPDATE_KEY_SLOTS = 2, UPDATE_KEY_TEXT = 129 };
extern const char UPDATES_URL[];
extern const unsigned long UPDATE_SEQUENCE;
extern const char UPDATE_KEYS[UPDATE_KEY_SLOTS][UPDATE_KEY_TEXT];

/* Row order is the order of download, unpacking and the self-test listing. */
extern const payload_part PARTS[];
extern const size_t PARTS_COUNT;

#endif
