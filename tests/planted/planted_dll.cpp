/* A DLL that a hostile page could leave beside the installer in Downloads,
   under the name of a DLL the installer uses. Loading it is the fault the
   tests look for: it records each process that loads it in the file named
   by QUILLBY_PLANTED_LOG, and offers none of the real DLL's functions. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char log[MAX_PATH], program[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("QUILLBY_PLANTED_LOG", log, sizeof log);
    if (length == 0 || length >= sizeof log)
        return TRUE;
    DWORD program_length = GetModuleFileNameA(NULL, program, sizeof program);
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, program, program_length, &written, NULL);
        WriteFile(file, "\r\n", 2, &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
