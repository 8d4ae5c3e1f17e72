/* Errors as Windows PowerShell 5.1 shows them, for the PowerShell stand-in,
 * and the .NET Framework exceptions behind most of them. */
#ifndef QUILLBY_ERROR_RECORD_H
#define QUILLBY_ERROR_RECORD_H

#include <windows.h>

enum { MESSAGE_UNITS = 32768 + 512 }; /* room for a message naming the longest path */

/* An error record: who wrote it (NULL for a .NET method's exception, which
 * PowerShell shows with no name before it), its message, and its category
 * info and fully qualified error id. Empty text stands for a part not there. */
typedef struct {
    const wchar_t *command;
    const wchar_t *message;
    const wchar_t *category;
    const wchar_t *target;
    const wchar_t *target_type;
    const wchar_t *activity;
    const wchar_t *reason;
    const wchar_t *error_id;
} error_record;

/* Writes the record to standard error, as PowerShell's console host does
 * where standard error is redirected: the message line and the category
 * info and error id lines, its target cut to 15 characters, "...", 15 where
 * it is longer than 40. The lines giving the error's place in a script are
 * left out: they show the module's source, which differs from build to
 * build of Windows. */
void write_error(const error_record *record);

/* The exception .NET Framework's System.IO throws for a Win32 error on path:
 * its type's name and its message. */
typedef struct {
    const wchar_t *type;
    wchar_t message[MESSAGE_UNITS];
} dotnet_exception;

void exception_for_error(DWORD error, const wchar_t *path, dotnet_exception *exception);

/* The PathTooLongException that .NET Framework throws past 259 characters
 * for a file and 247 for a folder. */
void path_too_long(dotnet_exception *exception);

#endif
