/* Expand-Archive as Windows PowerShell 5.1 runs it with its inbox module,
 * Microsoft.PowerShell.Archive 1.0.1.0, as Windows Update left it: with the
 * check that keeps each entry inside the destination.
 *
 * Its helper, ExpandArchiveHelper, takes the entries in central directory
 * order, inside try/finally blocks as is its own call in Expand-Archive:
 * - an entry it cannot place is skipped with a non-terminating error, and
 *   the rest go on: one that resolves outside the destination, one whose
 *   folder New-Item cannot make (248 characters or more: .NET Framework's
 *   limit, which powershell.exe does not lift), a file that Remove-Item
 *   -Force cannot delete to make way for it (held open, or a running
 *   program);
 * - an exception (New-Object FileInfo on a path of 260 characters or more,
 *   ExtractToFile failing, ZipArchive refusing the archive) unwinds the
 *   helper; Expand-Archive's finally removes what the call had made, the
 *   error is written where the try statement stands, inside Expand-Archive,
 *   and the rest of the archive is left as it is.
 * Either way the session ends with status 0 (see expand_archive.h). */
#include "expand_archive.h"

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "error_record.h"
#include "windows/system_code_page.h"
#include "zip_archive.h"

enum {
    MAX_TEXT = 32768,
    NAME_UNITS = 65536, /* a zip name's 65535 bytes, a unit each at most */
    PATH_UNITS = MAX_TEXT + NAME_UNITS,
    FILE_PATH_LIMIT = 260,
    FOLDER_PATH_LIMIT = 248
};

/* One expansion's text, on the heap for its length, and what it has made,
 * which an exception removes again: one path after another, terminated, in
 * room enough for a folder and a file per entry. */
typedef struct {
    wchar_t destination[MAX_TEXT + 1]; /* full, ending in a backslash */
    wchar_t name[NAME_UNITS];
    wchar_t joined[PATH_UNITS];
    wchar_t path[PATH_UNITS];
    wchar_t message[MESSAGE_UNITS + 128];
    wchar_t stopped[MESSAGE_UNITS + 128]; /* the exception that stopped it, kept while the removal writes its own */
    dotnet_exception exception;
    wchar_t *made;
    size_t made_length;
} expansion;

static int is_folder(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int is_file(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void remember(expansion *work, const wchar_t *path)
{
    size_t length = wcslen(path) + 1;
    memcpy(work->made + work->made_length, path, length * sizeof(wchar_t));
    work->made_length += length;
}

/* Directory.CreateDirectory: each missing folder from the top, refusing
 * before it is made one of 248 characters or more, so the shorter ones may
 * stay. Returns 0, or 1 with *exception. */
static int create_directory(wchar_t *path, dotnet_exception *exception)
{
    size_t length = wcslen(path);
    while (length > 3 && path[length - 1] == L'\\')
        length--;
    for (size_t end = 3; end <= length; end++) {
        if (end < length && path[end] != L'\\')
            continue;
        wchar_t kept = path[end];
        path[end] = L'\0';
        DWORD error = ERROR_SUCCESS;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
            error = end >= FOLDER_PATH_LIMIT ? ERROR_FILENAME_EXCED_RANGE
                    : CreateDirectoryW(path, NULL) ? ERROR_SUCCESS
                                                   : GetLastError();
        path[end] = kept;
        if (error == ERROR_FILENAME_EXCED_RANGE)
            path_too_long(exception);
        else if (error != ERROR_SUCCESS)
            exception_for_error(error, path, exception);
        if (error != ERROR_SUCCESS)
            return 1;
    }
    return 0;
}

/* New-Item PATH -Type Directory, which writes its error and goes on. Returns
 * 0 when the folder is there after it. */
static int new_item(expansion *work, wchar_t *path)
{
    error_record record = {L"New-Item", work->message, L"WriteError", path, L"String", L"New-Item", NULL,
                           L"CreateDirectoryIOError,Microsoft.PowerShell.Commands.NewItemCommand"};
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        swprintf(work->message, MESSAGE_UNITS, L"An item with the specified name %ls already exists.", path);
        record.category = L"ResourceExists";
        record.reason = L"IOException";
        record.error_id = L"DirectoryExist,Microsoft.PowerShell.Commands.NewItemCommand";
        write_error(&record);
    } else if (create_directory(path, &work->exception) != 0) {
        swprintf(work->message, MESSAGE_UNITS, L"%ls", work->exception.message);
        record.reason = work->exception.type;
        if (wcscmp(work->exception.type, L"UnauthorizedAccessException") == 0) {
            record.category = L"PermissionDenied";
            record.error_id = L"CreateDirectoryUnauthorizedAccessError,Microsoft.PowerShell.Commands.NewItemCommand";
        }
        write_error(&record);
    }
    return is_folder(path) ? 0 : 1;
}

/* Remove-Item -Force on a file: the attributes that would stop it cleared,
 * and put back if the file stays. Writes its error; returns 0 when the file
 * is gone. */
static int remove_file(expansion *work, const wchar_t *path)
{
    DWORD kept = GetFileAttributesW(path);
    DWORD cleared = kept & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(path, cleared ? cleared : FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path))
        return 0;
    exception_for_error(GetLastError(), path, &work->exception);
    SetFileAttributesW(path, kept);
    int denied = wcscmp(work->exception.type, L"UnauthorizedAccessException") == 0;
    swprintf(work->message, MESSAGE_UNITS, L"Cannot remove item %ls: %ls", path, work->exception.message);
    error_record record = {L"Remove-Item", work->message, denied ? L"PermissionDenied" : L"WriteError", path,
                           L"FileInfo", L"Remove-Item", work->exception.type,
                           denied ? L"RemoveFileSystemItemUnAuthorizedAccess,Microsoft.PowerShell.Commands."
                                    L"RemoveItemCommand"
                                  : L"RemoveFileSystemItemIOError,Microsoft.PowerShell.Commands.RemoveItemCommand"};
    write_error(&record);
    return 1;
}

/* Expand-Archive's finally: Remove-Item -Force -Recurse on each path made,
 * in the order made; a folder removed takes what was made in it, whose
 * paths are then not found. */
static void roll_back(expansion *work)
{
    for (size_t at = 0; at < work->made_length; at += wcslen(work->made + at) + 1) {
        wchar_t *path = work->made + at;
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            swprintf(work->message, MESSAGE_UNITS, L"Cannot find path '%ls' because it does not exist.", path);
            error_record record = {L"Remove-Item", work->message, L"ObjectNotFound", path, L"String", L"Remove-Item",
                                   L"ItemNotFoundException",
                                   L"PathNotFound,Microsoft.PowerShell.Commands.RemoveItemCommand"};
            write_error(&record);
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            /* a second terminator ends SHFileOperationW's list; a folder made here is short */
            wchar_t from[FOLDER_PATH_LIMIT + 2] = L"";
            wcsncpy(from, path, FOLDER_PATH_LIMIT);
            SHFILEOPSTRUCTW operation = {NULL, FO_DELETE, from, NULL, FOF_NO_UI, FALSE, NULL, NULL};
            SHFileOperationW(&operation);
        } else {
            remove_file(work, path);
        }
    }
}

/* Where an exception reaches PowerShell from: a script's call of a .NET
 * method, its reading of a property, or New-Object calling a constructor. */
enum thrower { METHOD, PROPERTY, CONSTRUCTOR };

/* How PowerShell shows each; a method's error id is the exception's type. */
static const struct {
    const wchar_t *command, *category, *reason, *error_id;
} THROWN_FROM[] = {
    {NULL, L"NotSpecified", L"MethodInvocationException", NULL},
    {NULL, L"NotSpecified", L"GetValueInvocationException", L"ExceptionWhenGetting"},
    {L"New-Object", L"InvalidOperation", L"MethodInvocationException",
     L"ConstructorInvokedThrowException,Microsoft.PowerShell.Commands.NewObjectCommand"},
};

/* work->exception, thrown inside ExpandArchiveHelper, unwinds it: what the
 * call made goes, then the error is written, its message naming the call,
 * as in "calling \"ExtractToFile\" with \"3\" argument(s)" or "getting
 * \"Entries\"". */
static void stop(expansion *work, thrower from, const wchar_t *call)
{
    swprintf(work->stopped, MESSAGE_UNITS + 128, L"Exception %ls: \"%ls\"", call, work->exception.message);
    const wchar_t *command = THROWN_FROM[from].command;
    error_record record = {command,
                           work->stopped,
                           THROWN_FROM[from].category,
                           L"",
                           L"",
                           command ? command : L"",
                           THROWN_FROM[from].reason,
                           THROWN_FROM[from].error_id ? THROWN_FROM[from].error_id : work->exception.type};
    roll_back(work);
    write_error(&record);
}

/* ZipFileExtensions.ExtractToFile(entry, path, false): the file made new,
 * the entry's bytes written, then File.SetLastWriteTime with the entry's
 * LastWriteTime, its DOS date and time taken as local time by that date's
 * rules, or 1980-01-01 00:00:00 where they are no date (ZipHelper's
 * DosTimeToDateTime). A file made stays when the entry's data fails. Returns
 * 0, or 1 with work->exception. */
static int extract_to_file(expansion *work, const zip_archive *archive, const zip_entry *entry)
{
    HANDLE file = CreateFileW(work->path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        exception_for_error(GetLastError(), work->path, &work->exception);
        return 1;
    }
    const wchar_t *problem = NULL;
    unsigned char *content = zip_entry_content(archive, entry, &problem);
    DWORD written = 0;
    int failed = !content || !WriteFile(file, content, entry->size, &written, NULL) || written != entry->size;
    DWORD error = GetLastError();
    free(content);
    CloseHandle(file);
    if (problem) {
        work->exception.type = L"InvalidDataException";
        swprintf(work->exception.message, MESSAGE_UNITS, L"%ls", problem);
        return 1;
    }
    uint32_t dos = entry->dos_time;
    SYSTEMTIME local = {(WORD)(1980 + (dos >> 25)), (WORD)(dos >> 21 & 15), 0, (WORD)(dos >> 16 & 31),
                        (WORD)(dos >> 11 & 31), (WORD)(dos >> 5 & 63), (WORD)((dos & 31) * 2), 0};
    SYSTEMTIME utc, no_date = {1980, 1, 0, 1, 0, 0, 0, 0};
    FILETIME time;
    if (!SystemTimeToFileTime(&local, &time))
        local = no_date;
    file = failed ? INVALID_HANDLE_VALUE
                  : CreateFileW(work->path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    failed = failed || file == INVALID_HANDLE_VALUE || !TzSpecificLocalTimeToSystemTime(NULL, &local, &utc) ||
             !SystemTimeToFileTime(&utc, &time) || !SetFileTime(file, NULL, NULL, &time);
    if (failed && error == ERROR_SUCCESS)
        error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (failed)
        exception_for_error(error, work->path, &work->exception);
    return failed;
}

/* One entry, as ExpandArchiveHelper takes it. Returns 0 to go on to the
 * next, 1 when the expansion stopped. */
static int expand_entry(expansion *work, const zip_archive *archive, const zip_entry *entry)
{
    /* Join-Path, whose file system provider turns / into \, then the path
       resolved, ".." and all, and held to the destination */
    size_t base = wcslen(work->destination);
    swprintf(work->joined, PATH_UNITS, L"%ls%ls", work->destination, work->name);
    for (wchar_t *c = work->joined + base; *c; c++)
        if (*c == L'/')
            *c = L'\\';
    DWORD length = GetFullPathNameW(work->joined, PATH_UNITS, work->path, NULL);
    if (length == 0 || length >= PATH_UNITS || wcsncmp(work->path, work->destination, base) != 0) {
        swprintf(work->message, MESSAGE_UNITS, L"Can not process invalid archive entry '%ls'.", work->name);
        error_record record = {L"ExpandArchiveHelper", work->message, L"NotSpecified", L"", L"", L"Write-Error",
                               L"WriteErrorException",
                               L"Microsoft.PowerShell.Commands.WriteErrorException,ExpandArchiveHelper"};
        write_error(&record);
        return 0;
    }
    if (work->path[length - 1] == L'\\') {
        if (GetFileAttributesW(work->path) == INVALID_FILE_ATTRIBUTES && new_item(work, work->path) == 0)
            remember(work, work->path);
        return 0;
    }
    /* New-Object System.IO.FileInfo, and .NET Framework's checks of the path */
    if (length >= FILE_PATH_LIMIT || wcschr(work->path + 2, L':')) {
        if (length >= FILE_PATH_LIMIT) {
            path_too_long(&work->exception);
        } else {
            work->exception.type = L"NotSupportedException";
            swprintf(work->exception.message, MESSAGE_UNITS, L"The given path's format is not supported.");
        }
        stop(work, CONSTRUCTOR, L"calling \".ctor\" with \"1\" argument(s)");
        return 1;
    }
    wchar_t *last_separator = wcsrchr(work->path, L'\\');
    *last_separator = L'\0';
    int placed = is_folder(work->path);
    if (!placed && new_item(work, work->path) == 0) {
        remember(work, work->path);
        placed = 1;
    }
    *last_separator = L'\\';
    if (!placed || (is_file(work->path) && remove_file(work, work->path) != 0 && is_file(work->path)))
        return 0;
    if (extract_to_file(work, archive, entry) != 0) {
        stop(work, METHOD, L"calling \"ExtractToFile\" with \"3\" argument(s)");
        return 1;
    }
    remember(work, work->path);
    return 0;
}

/* ExpandArchiveHelper on the archive's bytes: ZipArchive's constructor and
 * Entries, then each entry. Returns the session's status. */
static int expand_entries(expansion *work, const unsigned char *bytes, size_t size)
{
    zip_archive archive;
    const wchar_t *problem = NULL;
    int opened = open_zip_archive(bytes, size, &archive, &problem);
    if (opened == 2) {
        printf("powershell stand-in: archives with Zip64 records are not read here\n");
        return 1;
    }
    if (opened != 0 || check_zip_entries(&archive, &problem) != 0) {
        work->exception.type = L"InvalidDataException";
        swprintf(work->exception.message, MESSAGE_UNITS, L"%ls", problem);
        if (opened != 0)
            stop(work, CONSTRUCTOR, L"calling \".ctor\" with \"3\" argument(s)");
        else
            stop(work, PROPERTY, L"getting \"Entries\"");
        return 0;
    }
    size_t room = 1, position = archive.directory;
    for (uint32_t index = 0; index < archive.count; index++) {
        zip_entry entry;
        next_zip_entry(&archive, &position, &entry);
        room += 2 * (wcslen(work->destination) + entry.name_length + 1);
    }
    work->made = (wchar_t *)malloc(room * sizeof(wchar_t));
    if (!work->made) {
        printf("powershell stand-in: out of memory\n");
        return 1;
    }
    unsigned code_page = system_ansi_code_page();
    position = archive.directory;
    for (uint32_t index = 0; index < archive.count; index++) {
        zip_entry entry;
        next_zip_entry(&archive, &position, &entry);
        zip_entry_name(&entry, code_page, work->name, NAME_UNITS);
        if (expand_entry(work, &archive, &entry) != 0)
            break;
    }
    return 0;
}

/* Expand-Archive's own steps, where a refusal is the command's terminating
 * error and ends the session with status 1: the destination made unless it
 * is a folder (New-Item -ErrorAction Stop), the archive resolved and held to
 * be a file whose name ends in .zip (any letter case). Then the helper. */
static int expand(expansion *work, const wchar_t *archive, const wchar_t *destination)
{
    DWORD length = GetFullPathNameW(destination, MAX_TEXT - 1, work->destination, NULL);
    if (length == 0 || length >= MAX_TEXT - 1) {
        printf("powershell stand-in: the destination is no path it can take\n");
        return 1;
    }
    if (!is_folder(work->destination) && new_item(work, work->destination) != 0)
        return 1;
    if (work->destination[length - 1] != L'\\')
        wcscat(work->destination, L"\\");
    static const wchar_t NOT_FOUND[] = L"The path '%ls' either does not exist or is not a valid file system path.";
    error_record refusal = {L"Expand-Archive", work->message, L"InvalidArgument", archive, L"String", L"Expand-Archive",
                            L"InvalidOperationException", L"ArchiveCmdletPathNotFound,Expand-Archive"};
    DWORD full = GetFullPathNameW(archive, PATH_UNITS, work->path, NULL);
    if (full == 0 || full >= PATH_UNITS || GetFileAttributesW(work->path) == INVALID_FILE_ATTRIBUTES) {
        swprintf(work->message, MESSAGE_UNITS, NOT_FOUND, archive);
        write_error(&refusal);
        return 1;
    }
    const wchar_t *extension = wcsrchr(wcsrchr(work->path, L'\\'), L'.');
    extension = extension ? extension : L"";
    refusal.reason = L"IOException";
    if (!is_file(work->path)) {
        swprintf(work->message, MESSAGE_UNITS, NOT_FOUND, work->path);
        refusal.target = work->path;
        refusal.error_id = L"PathNotFound,Expand-Archive";
        write_error(&refusal);
        return 1;
    }
    if (_wcsicmp(extension, L".zip") != 0) {
        swprintf(work->message, MESSAGE_UNITS,
                 L"%ls is not a supported archive file format. .zip is the only supported archive file format.",
                 extension);
        refusal.target = extension;
        refusal.error_id = L"NotSupportedArchiveFileExtension,Expand-Archive";
        write_error(&refusal);
        return 1;
    }
    /* New-Object System.IO.FileStream (path, Open, Read): shared for reading only */
    HANDLE file = CreateFileW(work->path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    LARGE_INTEGER size = {};
    unsigned char *bytes = NULL;
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.HighPart == 0 &&
        (bytes = (unsigned char *)malloc(size.LowPart + 1)) != NULL)
        ReadFile(file, bytes, size.LowPart, &read, NULL);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    int status = 0;
    if (file == INVALID_HANDLE_VALUE) {
        exception_for_error(error, work->path, &work->exception);
        stop(work, CONSTRUCTOR, L"calling \".ctor\" with \"3\" argument(s)");
    } else if (!bytes || read != size.LowPart) {
        printf("powershell stand-in: cannot read the archive whole (error %lu)\n", error);
        status = 1;
    } else {
        status = expand_entries(work, bytes, size.LowPart);
    }
    free(bytes);
    return status;
}

int expand_archive(const char *archive_text, const char *destination_text)
{
    wchar_t archive[MAX_TEXT], destination[MAX_TEXT];
    expansion *work = (expansion *)calloc(1, sizeof *work);
    int status = 1;
    if (!work)
        printf("powershell stand-in: out of memory\n");
    else if (MultiByteToWideChar(CP_UTF8, 0, archive_text, -1, archive, MAX_TEXT) == 0 ||
             MultiByteToWideChar(CP_UTF8, 0, destination_text, -1, destination, MAX_TEXT) == 0)
        printf("powershell stand-in: the paths are too long for it\n");
    else
        status = expand(work, archive, destination);
    if (work)
        free(work->made);
    free(work);
    return status;
}
