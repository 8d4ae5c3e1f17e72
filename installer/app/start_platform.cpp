/* The calls a course's start makes of the learner's Windows: a connection
 * to the course's address, the server's process, the clock, the shell. */
/* Winsock's header goes before windows.h, which the seam's brings. */
#include <winsock2.h>
#include <ws2tcpip.h>

#include "app/start_seam.h"

#include <shellapi.h>

#include "app/course_server.h"
#include "windows/install_guards.h"

/* How long one poll waits for a connection: on Windows a refused one to a
 * local port takes some two seconds of retries to say so. */
static const long CONNECT_WAIT_US = 250 * 1000;

/* A connection that completes in time, without a byte sent: the server
 * listens. */
static int connects(const ADDRINFOA *to)
{
    SOCKET probe = socket(to->ai_family, to->ai_socktype, to->ai_protocol);
    if (probe == INVALID_SOCKET)
        return 0;
    u_long nonblocking = 1;
    int connected = 0;
    if (ioctlsocket(probe, FIONBIO, &nonblocking) == 0) {
        if (connect(probe, to->ai_addr, (int)to->ai_addrlen) == 0) {
            connected = 1;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(probe, &writable);
            FD_SET(probe, &failed);
            TIMEVAL limit = {0, CONNECT_WAIT_US};
            connected = select(0, NULL, &writable, &failed, &limit) > 0 && FD_ISSET(probe, &writable) &&
                        !FD_ISSET(probe, &failed);
        }
    }
    closesocket(probe);
    return connected;
}

/* Every address the host names is asked: "localhost" may name ::1 first,
 * and the course listen on 127.0.0.1 alone. */
static int course_answers(const course_address *address)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return 0;
    ADDRINFOA hints;
    ZeroMemory(&hints, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOA *found = NULL;
    int answered = 0;
    if (getaddrinfo(address->host, address->port, &hints, &found) == 0) {
        for (const ADDRINFOA *to = found; to && !answered; to = to->ai_next)
            answered = connects(to);
        freeaddrinfo(found);
    }
    WSACleanup();
    return answered;
}

static int process_has_ended(HANDLE server)
{
    return WaitForSingleObject(server, 0) == WAIT_OBJECT_0;
}

static void close_process(HANDLE server)
{
    CloseHandle(server);
}

static ULONGLONG clock_ms(void)
{
    return GetTickCount64();
}

static void sleep_ms(DWORD milliseconds)
{
    Sleep(milliseconds);
}

/* The learner's default browser, through the shell's association: an
 * address by its protocol, the failure page by .html. */
static void shell_open(const char *target, const char *install_folder)
{
    ShellExecuteA(NULL, "open", target, NULL, install_folder, SW_SHOWNORMAL);
}

const start_platform WINDOWS_START_PLATFORM = {
    course_is_open, course_answers, start_course_server, process_has_ended, close_process, clock_ms, sleep_ms,
    shell_open,
};
