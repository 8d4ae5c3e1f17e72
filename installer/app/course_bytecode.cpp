/* The embeddable runtime ships its standard library compiled; a course's
 * modules and packages come as sources, and each installation removes their
 * caches. Compiled by the runtime itself, the bytecode is the one it loads. */
#include "app/course_bytecode.h"

#include <stdio.h>

#include "common/capacities.h"
#include "windows/run_hidden.h"

/* Far beyond what compiling a course takes, short of for ever. */
static const unsigned long COMPILE_TIME_LIMIT_MS = 10ul * 60 * 1000;

enum {
    /* python.exe between quotes and the arguments. */
    COMPILE_COMMAND_CAPACITY = FILE_PATH_CAPACITY + sizeof "\"\" -m compileall -q ." + 1,
};

void compile_course(const char *install_folder)
{
    char runtime[FILE_PATH_CAPACITY];
    snprintf(runtime, sizeof runtime, "%s\\python\\python.exe", install_folder);
    char command[COMPILE_COMMAND_CAPACITY];
    snprintf(command, sizeof command, "\"%s\" -m compileall -q .", runtime);
    run_hidden(runtime, command, install_folder, COMPILE_TIME_LIMIT_MS);
}
