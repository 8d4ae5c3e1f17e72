/* The course this installer is built for. Another course's build replaces
 * this unit as a whole; the installer's logic never names a course. */
#include "manifest.h"

extern const char APP_TITLE[] = "Quillby - setup";
extern const char APP_TAGLINE[] = "This installs the course on this computer and opens it.";
extern const char APP_DIR_NAME[] = "Quillby";
extern const char USER_AGENT[] = "QuillbySetup/0.1";
extern const char PYTHON_URL[] = "https://www.python.org/ftp/python/3.12.10/python-3.12.10-embed-amd64.zip";
extern const char PYTHON_SHA256[] = "4acbed6dd1c744b0376e3b1cf57ce906f9dc9e95e68824584c8099a63025a3c3";
extern const char PYTHON_LABEL[] = "the Python runtime";
/* A reserved name that can never be a stranger's server, until the course
 * author sets their own file server here. */
extern const char PAYLOAD_BASE_URL[] = "https://files.quillby.example/files";
extern const char LAUNCHER_NAME[] = "start-quillby.bat";
extern const char SHORTCUT_NAME[] = "Quillby.lnk";
extern const char COURSE_URL[] = "http://127.0.0.1:8793/";

extern const payload_part PARTS[] = {
    {"quillby-payload-1.zip", "c579e7686531ab50aa46d3292e690989f99ca110d35443716e8bad0f05a4f2ab"},
    {"quillby-payload-2.zip", "32c661cb96bc782c882f6a1104fbf31d42c11bc4875b88544674462a33148d15"},
};
extern const size_t PARTS_COUNT = sizeof PARTS / sizeof PARTS[0];
