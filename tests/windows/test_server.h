// What the local HTTPS test server tells the Windows tests: its ports and the
// SHA-256 and size of each fixed body it serves.
#ifndef QUILLBY_TEST_SERVER_H
#define QUILLBY_TEST_SERVER_H

#include <string>

// A value from the server's state file, or "" when the file or the key is
// missing.
std::string server_value(const std::string &key);

// https://localhost:<port of listener>/<path>, listener being "TRUSTED",
// "WRONG_NAME" or "UNTRUSTED"; "PLAIN" gives http://.
std::string server_url(const char *listener, const std::string &path);

// The lines of the server's request log, and the file that holds them.
std::string server_request_log();
std::string server_request_log_file();

#endif
