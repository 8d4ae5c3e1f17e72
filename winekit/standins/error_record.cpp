/* Errors as Windows PowerShell 5.1 shows them. The exception texts are
 * .NET Framework's own (mscorlib's resources), which Windows PowerShell 5.1
 * runs on whatever the Windows release. */
#include "error_record.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { TARGET_SHOWN = 40, TARGET_END = 15 };

/* System.IO.__Error.WinIOError: a type and message per Win32 error, any
 * other error an IOException with the system's own text. */
static const struct {
    DWORD error;
    const wchar_t *type;
    const wchar_t *format;
} WIN32_EXCEPTIONS[] = {
    {ERROR_FILE_NOT_FOUND, L"FileNotFoundException", L"Could not find file '%ls'."},
    {ERROR_PATH_NOT_FOUND, L"DirectoryNotFoundException", L"Could not find a part of the path '%ls'."},
    {ERROR_ACCESS_DENIED, L"UnauthorizedAccessException", L"Access to the path '%ls' is denied."},
    {ERROR_SHARING_VIOLATION, L"IOException",
     L"The process cannot access the file '%ls' because it is being used by another process."},
    {ERROR_FILE_EXISTS, L"IOException", L"The file '%ls' already exists."},
    {ERROR_ALREADY_EXISTS, L"IOException",
     L"Cannot create \"%ls\" because a file or directory with the same name already exists."},
};

static void write_utf8(const wchar_t *text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *bytes = size > 0 ? (char *)malloc((size_t)size) : NULL;
    if (bytes && WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, NULL, NULL) == size)
        fputs(bytes, stderr);
    free(bytes);
}

void write_error(const error_record *record)
{
    wchar_t line[MESSAGE_UNITS + 64];
    wchar_t target[TARGET_SHOWN + 4];
    size_t target_length = wcslen(record->target);
    if (target_length > TARGET_SHOWN)
        swprintf(target, TARGET_SHOWN + 4, L"%.*ls...%ls", TARGET_END, record->target,
                 record->target + target_length - TARGET_END);
    else
        swprintf(target, TARGET_SHOWN + 4, L"%ls", record->target);
    if (record->command)
        swprintf(line, MESSAGE_UNITS + 64, L"%ls : %ls\n", record->command, record->message);
    else
        swprintf(line, MESSAGE_UNITS + 64, L"%ls\n", record->message);
    write_utf8(line);
    swprintf(line, MESSAGE_UNITS + 64, L"    + CategoryInfo          : %ls: (%ls:%ls) [%ls], %ls\n"
                                       L"    + FullyQualifiedErrorId : %ls\n",
             record->category, target, record->target_type, record->activity, record->reason, record->error_id);
    write_utf8(line);
    fflush(stderr);
}

void exception_for_error(DWORD error, const wchar_t *path, dotnet_exception *exception)
{
    for (size_t i = 0; i < sizeof WIN32_EXCEPTIONS / sizeof WIN32_EXCEPTIONS[0]; i++) {
        if (WIN32_EXCEPTIONS[i].error == error) {
            exception->type = WIN32_EXCEPTIONS[i].type;
            swprintf(exception->message, MESSAGE_UNITS, WIN32_EXCEPTIONS[i].format, path);
            return;
        }
    }
    exception->type = L"IOException";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0,
                                  exception->message, MESSAGE_UNITS, NULL);
    while (length > 0 && (exception->message[length - 1] == L'\n' || exception->message[length - 1] == L'\r'))
        length--;
    exception->message[length] = L'\0';
}

void path_too_long(dotnet_exception *exception)
{
    exception->type = L"PathTooLongException";
    swprintf(exception->message, MESSAGE_UNITS, L"%ls",
             L"The specified path, file name, or both are too long. The fully qualified file name must be less "
             L"than 260 characters, and the directory name must be less than 248 characters.");
}
