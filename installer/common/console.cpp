/* Console output shared by every step of the installer.
 *
 * Narrow text is in the ANSI code page, UTF-8 by the program's manifest, but
 * a console window decodes the bytes it is given in its own output code page
 * (437, 850...), so a course titled in French would show as mojibake. Text
 * bound for a console therefore goes to it as UTF-16, which it shows as
 * written; the console's code page, which outlives this program when it was
 * started from a prompt, is never changed. */
#include "common/console.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

/* Far beyond any line this program prints; a longer one is still printed,
 * as bytes. */
enum { TEXT_CAPACITY = 4096 };

/* Returns 0 once the text is on the console; 1 when standard output is no
 * console (a pipe, a file) or the console refused it. */
static int write_to_console(const char *text, int length)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    if (length == 0 || !GetConsoleMode(output, &mode))
        return 1;
    wchar_t wide[TEXT_CAPACITY];
    int count = MultiByteToWideChar(CP_ACP, 0, text, length, wide, TEXT_CAPACITY);
    DWORD written;
    /* Whatever an earlier fallback left in the C runtime's buffer goes first. */
    fflush(stdout);
    return count > 0 && WriteConsoleW(output, wide, (DWORD)count, &written, NULL) ? 0 : 1;
}

void print_text(const char *format, ...)
{
    char text[TEXT_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length >= 0 && length < TEXT_CAPACITY) {
        if (write_to_console(text, length) != 0)
            fwrite(text, 1, (size_t)length, stdout);
        return;
    }
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
}

void say(const char *text)
{
    print_text("%s\n", text);
    fflush(stdout);
}
