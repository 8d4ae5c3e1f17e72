// What the local HTTPS test server tells the Windows tests: its ports and the
// SHA-256 and size of each fixed body it serves.
#include "test_server.h"

#include <string.h>

#include "test_support.h"

// The fixture keeps the server's state beside the tests' folder, which is
// the working folder of every Windows test.
static std::string state_folder()
{
    return "..\\https-server";
}

std::string server_value(const std::string &key)
{
    const std::string text = read_file(state_folder() + "/server.txt");
    const std::string wanted = key + "=";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(at, wanted.size(), wanted) == 0)
            return text.substr(at + wanted.size(), end - at - wanted.size());
        at = end + 1;
    }
    return "";
}

std::string server_url(const char *listener, const std::string &path)
{
    const char *scheme = strcmp(listener, "PLAIN") == 0 ? "http" : "https";
    return std::string(scheme) + "://localhost:" + server_value(std::string(listener) + "_PORT") + path;
}

std::string server_request_log_file()
{
    return state_folder() + "\\requests.log";
}

std::string server_request_log()
{
    return read_file(server_request_log_file());
}
