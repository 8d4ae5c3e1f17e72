/* The failure page, a file in the install folder that the browser opens:
 * UTF-8 HTML, every text from outside (the log, the course's name, paths)
 * escaped, so that nothing a server printed can run as a script there. */
#include "app/failure_page.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "app/course_server.h"
#include "common/manifest.h"
#include "windows/system_code_page.h"

static const char FAILURE_PAGE_NAME[] = "course-start-failed.html";
/* How Python on Windows says a port is held: WSAEADDRINUSE, and WSAEACCES,
 * which a port another program holds exclusively, or one Windows reserves,
 * gives. */
static const char *const PORT_TAKEN_MARKS[] = {"[WinError 10048]", "[WinError 10013]"};

enum {
    /* The end of the log the page shows: a traceback's last frames. */
    LOG_TAIL_BYTES = 4096,
    /* The tail in UTF-8: each byte of another code page is at most three. */
    LOG_TAIL_TEXT_CAPACITY = 3 * LOG_TAIL_BYTES + 1,
};

static void format_failure_page(char page[FILE_PATH_CAPACITY], const char *install_folder)
{
    snprintf(page, FILE_PATH_CAPACITY, "%s\\%s", install_folder, FAILURE_PAGE_NAME);
}

/* The last LOG_TAIL_BYTES of the log from a line's start, as UTF-8: Python
 * writes a file in the system's ANSI code page unless told otherwise. */
static void read_log_tail(const char *install_folder, char tail[LOG_TAIL_TEXT_CAPACITY])
{
    tail[0] = '\0';
    char log_file[FILE_PATH_CAPACITY];
    format_server_log(log_file, install_folder);
    HANDLE log = CreateFileA(log_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size;
    char bytes[LOG_TAIL_BYTES + 1];
    DWORD got = 0;
    if (GetFileSizeEx(log, &size)) {
        LARGE_INTEGER from;
        from.QuadPart = size.QuadPart > LOG_TAIL_BYTES ? size.QuadPart - LOG_TAIL_BYTES : 0;
        if (!SetFilePointerEx(log, from, NULL, FILE_BEGIN) || !ReadFile(log, bytes, LOG_TAIL_BYTES, &got, NULL))
            got = 0;
        bytes[got] = '\0';
        const char *line = bytes;
        if (from.QuadPart > 0 && strchr(bytes, '\n'))
            line = strchr(bytes, '\n') + 1;
        got -= (DWORD)(line - bytes);
        memmove(bytes, line, got + 1);
    }
    CloseHandle(log);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)got, NULL, 0) > 0 || got == 0) {
        memcpy(tail, bytes, got + 1);
        return;
    }
    wchar_t wide[LOG_TAIL_BYTES];
    int units = MultiByteToWideChar(system_ansi_code_page(), 0, bytes, (int)got, wide, LOG_TAIL_BYTES);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, units, tail, LOG_TAIL_TEXT_CAPACITY - 1, NULL, NULL);
    tail[length > 0 ? length : 0] = '\0';
}

static void write_escaped(FILE *file, const char *text)
{
    for (const char *c = text; *c; c++) {
        switch (*c) {
        case '&': fputs("&amp;", file); break;
        case '<': fputs("&lt;", file); break;
        case '>': fputs("&gt;", file); break;
        case '"': fputs("&quot;", file); break;
        case '\r': break;
        default: fputc(*c, file);
        }
    }
}

static void write_reason(FILE *file, start_failure why, const course_address *address, unsigned long limit_minutes)
{
    fputs("<p>", file);
    if (why == PORT_TAKEN) {
        fprintf(file, "Port %s of this computer is used by another program, so the course cannot answer at ",
                address->port);
        write_escaped(file, COURSE_URL);
        fputs(". Close that program, or restart the computer, then start the course again.</p>\n", file);
        return;
    }
    fputs(why == SERVER_ENDED ? "Its server stopped before it answered at " : "Its server did not answer at ", file);
    write_escaped(file, COURSE_URL);
    if (why == SERVER_SILENT)
        fprintf(file, " within %lu minute%s", limit_minutes, limit_minutes == 1 ? "" : "s");
    fputs(".</p>\n", file);
}

int write_failure_page(const char *install_folder, start_failure why, const course_address *address,
                       unsigned long limit_minutes, char page[FILE_PATH_CAPACITY])
{
    format_failure_page(page, install_folder);
    FILE *file = fopen(page, "wb");
    if (!file)
        return 1;
    fputs("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>", file);
    write_escaped(file, APP_PRODUCT_NAME);
    fputs(" could not start</title>\n<style>body{font-family:sans-serif;max-width:48em;margin:2em auto;"
          "padding:0 1em}pre{background:#f3f3f3;padding:1em;white-space:pre-wrap}</style></head>\n<body><h1>",
          file);
    write_escaped(file, APP_PRODUCT_NAME);
    fputs(" could not start</h1>\n", file);
    if (why == UPDATE_HALF_DONE) {
        /* The server never ran: its log tells nothing of this. */
        fputs("<p>An update of this course stopped half-way and could be neither finished nor undone, so the "
              "course was not started on a mix of two versions.</p>\n<p>What you can do: run this course's setup "
              "again (the program you installed it with): it puts every file of the course in place, and your "
              "own files stay.</p>\n</body></html>\n",
              file);
        return fclose(file) == 0 ? 0 : 1;
    }
    write_reason(file, why, address, limit_minutes);
    char log_file[FILE_PATH_CAPACITY];
    format_server_log(log_file, install_folder);
    if (why != PORT_TAKEN) {
        char tail[LOG_TAIL_TEXT_CAPACITY];
        read_log_tail(install_folder, tail);
        fputs("<p>The last lines its server wrote:</p>\n<pre>", file);
        write_escaped(file, tail[0] ? tail : "(nothing)");
        fputs("</pre>\n", file);
    }
    fputs("<p>The whole log is in <code>", file);
    write_escaped(file, log_file);
    fputs("</code>.</p>\n<p>What you can do: start the course again from its shortcut on the desktop. If it fails "
          "again, send that log file to the course's author",
          file);
    if (APP_PUBLISHER[0]) {
        fputs(" (", file);
        write_escaped(file, APP_PUBLISHER);
        fputs(")", file);
    }
    fputs(".</p>\n</body></html>\n", file);
    return fclose(file) == 0 ? 0 : 1;
}

void remove_failure_page(const char *install_folder)
{
    char page[FILE_PATH_CAPACITY];
    format_failure_page(page, install_folder);
    DeleteFileA(page);
}

int log_shows_port_taken(const char *install_folder)
{
    char tail[LOG_TAIL_TEXT_CAPACITY];
    read_log_tail(install_folder, tail);
    for (const char *mark : PORT_TAKEN_MARKS)
        if (strstr(tail, mark))
            return 1;
    return 0;
}
