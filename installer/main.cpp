/* Entry point: "--selftest" as the first argument proves the SHA-256 engine;
 * anything else installs the course. */
#include <string.h>

#include "install.h"
#include "selftest.h"

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--selftest") == 0)
        return run_selftest();
    return run_install();
}
