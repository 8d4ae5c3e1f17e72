/* WinINet, loaded on demand from the system folder only.
 *
 * A DLL named in the import table is loaded before main runs, from a search
 * that starts in the program's own folder, the learner's Downloads, where a
 * hostile page can leave a wininet.dll. WinINet is not one of Windows' known
 * DLLs, so it is left out of the import table and loaded here, by full
 * system path, for the length of one download. */
#ifndef QUILLBY_WININET_LIBRARY_H
#define QUILLBY_WININET_LIBRARY_H

#include <windows.h>
#include <wininet.h>

/* The entry points the download uses, resolved from the loaded library. */
typedef struct {
    HMODULE module;
    HINTERNET(WINAPI *open)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
    HINTERNET(WINAPI *open_url)(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headers_length,
                                DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *read_file)(HINTERNET request, LPVOID buffer, DWORD to_read, LPDWORD got);
    BOOL(WINAPI *set_option)(HINTERNET handle, DWORD option, LPVOID value, DWORD length);
    BOOL(WINAPI *query_option)(HINTERNET handle, DWORD option, LPVOID value, LPDWORD length);
    BOOL(WINAPI *query_info)(HINTERNET request, DWORD what, LPVOID value, LPDWORD length, LPDWORD index);
    BOOL(WINAPI *close_handle)(HINTERNET handle);
    BOOL(WINAPI *query_data_available)(HINTERNET request, LPDWORD available, DWORD flags, DWORD_PTR context);
} wininet_library;

/* Returns 0 with every entry point set, or 1 (and nothing loaded). */
int wininet_load(wininet_library *library);

void wininet_unload(wininet_library *library);

#endif
