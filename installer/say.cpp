/* Console output shared by every step of the installer. */
#include "say.h"

#include <stdio.h>

void say(const char *text)
{
    printf("%s\n", text);
    fflush(stdout);
}
