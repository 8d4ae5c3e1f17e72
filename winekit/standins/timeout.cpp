/* Stand-in for Windows' timeout.exe, which Wine 8 does not ship:
   "timeout /t N [/nobreak]" waits N seconds. It never reads the keyboard, so
   /nobreak is accepted and changes nothing. Nothing the setup or its
   launcher runs needs it any longer, so it stays out of the prefix; the
   tests copy it where they need a program that lasts (a course's running
   python.exe, a child that ends late). */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MAX_SECONDS = 99999 }; /* the largest wait the real command accepts */

/* Reads a whole decimal number of seconds; the real command's -1 (wait for a
   key) is refused, as there is no key to wait for. */
static int parse_seconds(const char *text, long *seconds)
{
    char *end;
    if (text[0] < '0' || text[0] > '9')
        return 0;
    *seconds = strtol(text, &end, 10);
    return *end == '\0' && *seconds <= MAX_SECONDS;
}

static int parse_arguments(int argc, char **argv, long *seconds)
{
    int nobreak_seen = 0;
    *seconds = -1;
    for (int i = 1; i < argc; i++) {
        if (_stricmp(argv[i], "/t") == 0 && *seconds < 0 && i + 1 < argc && parse_seconds(argv[i + 1], seconds))
            i++;
        else if (_stricmp(argv[i], "/nobreak") == 0 && !nobreak_seen)
            nobreak_seen = 1;
        else
            return 0;
    }
    return *seconds >= 0;
}

int main(int argc, char **argv)
{
    long seconds;
    if (!parse_arguments(argc, argv, &seconds)) {
        printf("timeout stand-in: usage: timeout /t SECONDS [/nobreak], SECONDS from 0 to %d\n", MAX_SECONDS);
        return 1;
    }
    Sleep((DWORD)seconds * 1000);
    return 0;
}
