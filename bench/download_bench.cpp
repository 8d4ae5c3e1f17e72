// How much the verified download costs over the bare transfer: in one run,
// against the same server, a WinINet read loop that discards the bytes and
// download_and_verify writing and hashing them, alternated, best of each.
// Beside the wall clock, which the machine's other work and Wine make swing
// by half from run to run, the process's own CPU time (user and kernel, all
// its threads) per 100 MB: what the program spends on the bytes, TLS
// included, whatever the rest of the machine does.
// Usage: download_bench URL EXPECTED_SHA256 PATH [ROUNDS]
#include <windows.h>
#include <wininet.h>
#include <stdio.h>
#include <stdlib.h>

#include "common/manifest.h"
#include "download/download.h"

static double seconds_now(void)
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

/* User and kernel time of this process so far, in seconds. */
static double process_cpu_seconds(void)
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) * 100e-9;
}

/* The same session, flags and buffer as the download, with nothing done to
 * the bytes; returns the byte count, or -1 when the address fails. */
static long long bare_transfer(const char *url)
{
    HINTERNET session = InternetOpenA(USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!session)
        return -1;
    HINTERNET request = InternetOpenUrlA(session, url, NULL, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE, 0);
    long long total = -1;
    if (request) {
        static unsigned char buffer[16384];
        DWORD got = 0;
        total = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0)
            total += got;
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return total;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        printf("usage: download_bench URL EXPECTED_SHA256 PATH [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 4 ? atoi(argv[4]) : 3;
    double best_bare = 1e30, best_verified = 1e30, best_bare_cpu = 1e30, best_verified_cpu = 1e30;
    long long bytes = 0;
    for (int round = 0; round < rounds; round++) {
        double start = seconds_now(), start_cpu = process_cpu_seconds();
        bytes = bare_transfer(argv[1]);
        double bare = seconds_now() - start, bare_cpu = process_cpu_seconds() - start_cpu;
        if (bytes <= 0) {
            printf("bare transfer failed\n");
            return 1;
        }
        start = seconds_now();
        start_cpu = process_cpu_seconds();
        int result = download_and_verify(argv[1], argv[3], argv[2], "benchmark body");
        double verified = seconds_now() - start, verified_cpu = process_cpu_seconds() - start_cpu;
        if (result != 0) {
            printf("verified download failed\n");
            return 1;
        }
        if (bare < best_bare)
            best_bare = bare;
        if (verified < best_verified)
            best_verified = verified;
        if (bare_cpu < best_bare_cpu)
            best_bare_cpu = bare_cpu;
        if (verified_cpu < best_verified_cpu)
            best_verified_cpu = verified_cpu;
    }
    const double megabytes = (double)bytes / 1e6;
    const double per_100_mb = 100.0 / megabytes;
    printf("\nbody: %.1f MB, best of %d rounds each\n", megabytes, rounds);
    printf("                              wall clock    process CPU (user + kernel)\n");
    printf("bare WinINet read loop:       %7.1f MB/s  %6.3f s per 100 MB\n", megabytes / best_bare,
           best_bare_cpu * per_100_mb);
    printf("download_and_verify:          %7.1f MB/s  %6.3f s per 100 MB\n", megabytes / best_verified,
           best_verified_cpu * per_100_mb);
    printf("throughput, verified / bare:  %7.3f\n", best_bare / best_verified);
    printf("CPU time, verified / bare:    %7.3f  (%+.3f s per 100 MB)\n", best_verified_cpu / best_bare_cpu,
           (best_verified_cpu - best_bare_cpu) * per_100_mb);
    return 0;
}
