/* Putting a staged update in place: a journal, then one rename a file.
 *
 * A file goes through three states, each told by where its copies are: not
 * yet moved (staged, the earlier copy in place), half-way (staged, the
 * earlier copy set aside), moved (in place, the earlier copy set aside, or
 * none). So the journal names only the files and what was staged of each,
 * written whole before the first move and removed after the last: a stop
 * anywhere leaves states that the next start can carry on from, either
 * way. The journal is the install record's text with a last line "end": a
 * journal cut short at a line's end still reads as a record. */
#include "update/apply_seam.h"
#include "update/staged_moves.h"

#include <windows.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/capacities.h"
#include "common/console.h"
#include "update/install_record.h"
#include "windows/folder_tree.h"
#include "windows/long_path.h"
#include "windows/whole_file.h"
#include "zip/file_check.h"

static const char JOURNAL_END[] = "end\r\n";

/* The three places of one file, as \\?\ paths: too large for the stack. */
typedef struct {
    wchar_t base[LONG_PATH_UNITS];
    size_t base_length;
    wchar_t target[LONG_PATH_UNITS], staged[LONG_PATH_UNITS], set_aside[LONG_PATH_UNITS];
} move_paths;

static unsigned long rename_file(const wchar_t *from, const wchar_t *to)
{
    return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
}

static int write_journal(const char *journal, const char *bytes, size_t length)
{
    return replace_whole_file(journal, bytes, length);
}

static int remove_journal(const char *journal)
{
    return !DeleteFileA(journal) && GetLastError() != ERROR_FILE_NOT_FOUND;
}

static void pause_ms(unsigned long ms)
{
    Sleep(ms);
}

const apply_steps APPLY_STEPS = {rename_file, write_journal, remove_journal, pause_ms};

static move_paths *start_paths(const char *install_folder)
{
    move_paths *paths = (move_paths *)malloc(sizeof *paths);
    if (paths && (paths->base_length = long_path_form(install_folder, paths->base, LONG_PATH_UNITS)) != 0)
        return paths;
    free(paths);
    return NULL;
}

/* Points the three places at relative; 1 when one does not fit. */
static int place(move_paths *paths, const wchar_t *relative)
{
    int target = _snwprintf(paths->target, LONG_PATH_UNITS, L"%ls\\%ls", paths->base, relative);
    int staged = _snwprintf(paths->staged, LONG_PATH_UNITS, L"%ls\\%hs\\%ls", paths->base, STAGING_FOLDER, relative);
    int set_aside =
        _snwprintf(paths->set_aside, LONG_PATH_UNITS, L"%ls\\%hs\\%ls", paths->base, SET_ASIDE_FOLDER, relative);
    return target < 0 || target >= LONG_PATH_UNITS || staged < 0 || staged >= LONG_PATH_UNITS || set_aside < 0 ||
           set_aside >= LONG_PATH_UNITS;
}

static int exists(const wchar_t *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static int holds(const wchar_t *path, const file_check *check)
{
    file_check found;
    return check_file(path, &found) == 0 && found.size == check->size && found.crc == check->crc;
}

static int held_open(unsigned long error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

static int move(const apply_steps *steps, wchar_t *from, wchar_t *to, size_t base_length)
{
    make_folders_above(to, base_length);
    for (int attempt = 1;; attempt++) {
        unsigned long error = steps->move_file(from, to);
        if (error == 0)
            return 0;
        if (attempt == MOVE_TRIES || !held_open(error))
            return 1;
        steps->pause_ms(MOVE_RETRY_PAUSE_MS);
    }
}

/* Carries one file on to moved; 0 once it is in place. */
static int finish_move(const apply_steps *steps, move_paths *paths, const file_check *check)
{
    if (!exists(paths->staged))
        return !holds(paths->target, check);
    if (exists(paths->target)) {
        /* Both copies there and one set aside: no run of these moves leaves
         * that, so it is not one to carry on from. */
        if (exists(paths->set_aside) || move(steps, paths->target, paths->set_aside, paths->base_length) != 0)
            return 1;
    }
    return move(steps, paths->staged, paths->target, paths->base_length);
}

/* Takes one file back to not yet moved; 0 once the earlier copy, or none,
 * is in place again and the staged one back in staging. */
static int undo_move(const apply_steps *steps, move_paths *paths, const file_check *check)
{
    if (!exists(paths->staged) && exists(paths->target) &&
        (!holds(paths->target, check) || move(steps, paths->target, paths->staged, paths->base_length) != 0))
        return 1;
    if (!exists(paths->set_aside))
        return 0;
    return exists(paths->target) || move(steps, paths->set_aside, paths->target, paths->base_length) != 0;
}

/* A file of moves in the installation's own words, for a line. */
static void narrow_name(const path_set *moves, size_t i, char name[FILE_PATH_CAPACITY])
{
    if (WideCharToMultiByte(CP_ACP, 0, moves->text + moves->starts[i], -1, name, FILE_PATH_CAPACITY, NULL, NULL) ==
        0)
        snprintf(name, FILE_PATH_CAPACITY, "a file of the course");
}

/* Carries every file on (forward) or back, in turn; the index of the first
 * that would not go, or the count. */
static size_t move_all(const apply_steps *steps, move_paths *paths, const path_set *moves, int forward)
{
    for (size_t n = 0; n < moves->count; n++) {
        size_t i = forward ? n : moves->count - 1 - n;
        const file_check *check = &moves->checks[i].file;
        if (place(paths, moves->text + moves->starts[i]) != 0 ||
            (forward ? finish_move(steps, paths, check) : undo_move(steps, paths, check)) != 0)
            return i;
    }
    return moves->count;
}

static void format_in(char *out, const char *install_folder, const char *name)
{
    snprintf(out, FILE_PATH_CAPACITY, "%s\\%s", install_folder, name);
}

/* Once the journal is gone: what staging and setting aside left. */
static void remove_update_folders(const char *install_folder)
{
    char folder[FILE_PATH_CAPACITY];
    format_in(folder, install_folder, STAGING_FOLDER);
    remove_folder_tree(folder);
    format_in(folder, install_folder, SET_ASIDE_FOLDER);
    remove_folder_tree(folder);
}

void clear_update_folders(const char *install_folder)
{
    char journal[FILE_PATH_CAPACITY];
    format_in(journal, install_folder, JOURNAL_NAME);
    if (GetFileAttributesA(journal) == INVALID_FILE_ATTRIBUTES)
        remove_update_folders(install_folder);
}

void supersede_update(const char *install_folder)
{
    char journal[FILE_PATH_CAPACITY];
    format_in(journal, install_folder, JOURNAL_NAME);
    DeleteFileA(journal);
    remove_update_folders(install_folder);
}

/* The journal gone, then the folders; 1 when the journal stays. */
static int end_update(const apply_steps *steps, const char *install_folder, const char *journal)
{
    if (steps->remove_journal(journal) != 0)
        return 1;
    remove_update_folders(install_folder);
    return 0;
}

int apply_moves_on(const apply_steps *steps, const char *install_folder, const path_set *moves)
{
    char journal[FILE_PATH_CAPACITY], name[FILE_PATH_CAPACITY];
    format_in(journal, install_folder, JOURNAL_NAME);
    size_t length = 0;
    char *record = format_install_record(moves, &length);
    char *text = record ? (char *)malloc(length + sizeof JOURNAL_END) : NULL;
    move_paths *paths = start_paths(install_folder);
    int written = 0;
    if (text) {
        memcpy(text, record, length);
        memcpy(text + length, JOURNAL_END, sizeof JOURNAL_END - 1);
        written = steps->write_journal(journal, text, length + sizeof JOURNAL_END - 1) == 0;
    }
    free(record);
    free(text);
    if (!paths || !written) {
        free(paths);
        say("Could not write the update's journal into the install folder; nothing was changed.");
        return 1;
    }
    size_t stopped = move_all(steps, paths, moves, 1);
    int status = 0;
    if (stopped == moves->count) {
        /* Every file is in place: a journal that stays is finished at the
         * next start, which finds nothing left to move. */
        end_update(steps, install_folder, journal);
    } else {
        narrow_name(moves, stopped, name);
        status = 1;
        if (move_all(steps, paths, moves, 0) == moves->count && end_update(steps, install_folder, journal) == 0)
            print_text("Could not put %s in place: another program holds it open, or it cannot be written. "
                       "The update was undone: the course is as it was. "
                       "Close any program that shows the course's files, then run this setup again.\n",
                       name);
        else
            print_text("Could not put %s in place, nor yet the version before back; "
                       "the next start of the course or of this setup finishes that.\n",
                       name);
        fflush(stdout);
    }
    free(paths);
    return status;
}

/* The journal's moves: each a file with the check of what was staged, and
 * the line "end" after the last. */
static int read_journal(const char *journal, path_set *moves)
{
    size_t length = 0, end = sizeof JOURNAL_END - 1;
    char *bytes = read_whole_file(journal, INT_MAX, &length);
    int whole = bytes && length >= end && memcmp(bytes + length - end, JOURNAL_END, end) == 0 &&
                (length == end || bytes[length - end - 1] == '\n') &&
                read_install_record_text(bytes, length - end, moves) == 0 && moves->count > 0;
    for (size_t i = 0; whole && i < moves->count; i++)
        whole = moves->checks[i].known;
    free(bytes);
    return !whole;
}

/* Whether each file is where a stop may have left it, holding what was
 * staged: a journal that says otherwise is not followed. */
static int journal_holds(move_paths *paths, const path_set *moves)
{
    for (size_t i = 0; i < moves->count; i++) {
        const file_check *check = &moves->checks[i].file;
        if (place(paths, moves->text + moves->starts[i]) != 0 ||
            !(exists(paths->staged) ? holds(paths->staged, check) : holds(paths->target, check)))
            return 0;
    }
    return 1;
}

int recover_update_on(const apply_steps *steps, const char *install_folder)
{
    char journal[FILE_PATH_CAPACITY];
    format_in(journal, install_folder, JOURNAL_NAME);
    if (GetFileAttributesA(journal) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        return 0;
    path_set moves = {};
    move_paths *paths = start_paths(install_folder);
    const char *line = "An update of this course stopped half-way, and its journal cannot be read: "
                       "run this course's setup again.";
    int status = 1;
    if (paths && read_journal(journal, &moves) == 0) {
        line = "An update of this course stopped half-way, and can be neither finished nor undone: "
               "run this course's setup again.";
        if (journal_holds(paths, &moves) && move_all(steps, paths, &moves, 1) == moves.count) {
            line = "An update of this course had stopped half-way: it is now finished.";
            status = 0;
        } else if (move_all(steps, paths, &moves, 0) == moves.count) {
            line = "An update of this course had stopped half-way and could not be finished: "
                   "the version before it is back.";
            status = 0;
        }
        /* A journal that stays is carried on from at the next start,
         * which finds every file in place. */
        if (status == 0)
            end_update(steps, install_folder, journal);
    }
    say(line);
    free_path_set(&moves);
    free(paths);
    return status;
}

int apply_moves(const char *install_folder, const path_set *moves)
{
    return apply_moves_on(&APPLY_STEPS, install_folder, moves);
}

int recover_update(const char *install_folder)
{
    return recover_update_on(&APPLY_STEPS, install_folder);
}
