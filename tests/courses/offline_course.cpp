// A course whose every address is a closed port on this machine: a run of the
// installation branch stops at its first download without leaving the host.
#include "manifest.h"

extern const char APP_TITLE[] = "Offline course - setup";
extern const char APP_TAGLINE[] = "Nothing can be downloaded for this course.";
extern const char APP_DIR_NAME[] = "OfflineCourse";
extern const char USER_AGENT[] = "QuillbyOfflineTest/1";
extern const char PYTHON_URL[] = "https://localhost:1/python.zip";
extern const char PYTHON_SHA256[] = "0000000000000000000000000000000000000000000000000000000000000000";
extern const char PYTHON_LABEL[] = "the offline runtime";
extern const char PAYLOAD_BASE_URL[] = "https://localhost:1/files";
extern const char LAUNCHER_NAME[] = "start-offline.bat";
extern const char SHORTCUT_NAME[] = "Offline.lnk";
extern const char COURSE_URL[] = "http://127.0.0.1:1/";

extern const payload_part PARTS[] = {
    {"offline-a.zip", "1111111111111111111111111111111111111111111111111111111111111111"},
    {"offline-b.zip", "2222222222222222222222222222222222222222222222222222222222222222"},
    {"offline-c.zip", "3333333333333333333333333333333333333333333333333333333333333333"},
};
extern const size_t PARTS_COUNT = sizeof PARTS / sizeof PARTS[0];
