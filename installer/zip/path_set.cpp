/* A set of paths relative to the install folder, as Windows compares them:
 * letter case aside, unit by unit. */
#include "zip/path_set.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

/* block grown to hold at least needed units (at least doubling, so adding
 * stays linear), or NULL with block and capacity as they were. */
static void *grow(void *block, size_t *capacity, size_t needed, size_t unit)
{
    if (needed <= *capacity)
        return block;
    size_t larger = *capacity * 2 > needed ? *capacity * 2 : needed;
    void *moved = realloc(block, larger * unit);
    if (moved)
        *capacity = larger;
    return moved;
}

static int is_separator(wchar_t c)
{
    return c == L'/' || c == L'\\';
}

/* The device names Windows reserves in every folder (Microsoft's "Naming
 * Files, Paths, and Namespaces"); a numbered one ends in one of the digits
 * that page lists, ISO 8859-1's superscripts among them. */
static const struct {
    const wchar_t *name;
    int numbered;
} DEVICES[] = {{L"CON", 0}, {L"PRN", 0}, {L"AUX", 0}, {L"NUL", 0}, {L"COM", 1}, {L"LPT", 1}};
static const wchar_t DEVICE_NUMBERS[] = L"0123456789\u00b9\u00b2\u00b3";
enum { DEVICE_NAME_LENGTH = 3 };

/* Whether the length units of segment are a device's name, alone or before
 * an extension, which Windows takes for the device. */
static int is_device(const wchar_t *segment, size_t length)
{
    size_t stem = 0;
    while (stem < length && segment[stem] != L'.')
        stem++;
    for (size_t i = 0; i < sizeof DEVICES / sizeof *DEVICES; i++)
        if (stem == DEVICE_NAME_LENGTH + (size_t)DEVICES[i].numbered &&
            CompareStringOrdinal(segment, DEVICE_NAME_LENGTH, DEVICES[i].name, DEVICE_NAME_LENGTH, TRUE) ==
                CSTR_EQUAL &&
            (!DEVICES[i].numbered ||
             wmemchr(DEVICE_NUMBERS, segment[DEVICE_NAME_LENGTH], wcslen(DEVICE_NUMBERS)) != NULL))
            return 1;
    return 0;
}

int names_a_device(const wchar_t *name, size_t length)
{
    for (size_t start = 0, i = 0; i <= length; i++)
        if (i == length || is_separator(name[i])) {
            if (is_device(name + start, i - start))
                return 1;
            start = i + 1;
        }
    return 0;
}

/* Every segment names one thing inside the install folder, as given. */
static int is_plain_relative_path(const wchar_t *name, size_t length)
{
    for (size_t start = 0, i = 0; i <= length; i++) {
        if (i < length && !is_separator(name[i])) {
            if (name[i] < 0x20 || wcschr(L"<>:\"|?*", name[i]))
                return 0;
            continue;
        }
        if (i == start) {
            if (i < length || i == 0)
                return 0;
        } else if (name[i - 1] == L'.' || name[i - 1] == L' ') {
            return 0;
        }
        start = i + 1;
    }
    return 1;
}

int add_path(path_set *set, const wchar_t *folder, const wchar_t *name, size_t length, const file_check *check)
{
    if (!is_plain_relative_path(name, length) || names_a_device(name, length))
        return 1;
    size_t folder_length = wcslen(folder);
    wchar_t *text = (wchar_t *)grow(set->text, &set->text_capacity, set->text_used + folder_length + length + 1,
                                    sizeof *text);
    if (!text)
        return 1;
    set->text = text;
    size_t *starts = (size_t *)grow(set->starts, &set->starts_capacity, set->count + 1, sizeof *starts);
    if (!starts)
        return 1;
    set->starts = starts;
    path_check *checks = (path_check *)grow(set->checks, &set->checks_capacity, set->count + 1, sizeof *checks);
    if (!checks)
        return 1;
    set->checks = checks;
    set->checks[set->count].known = check != NULL;
    set->checks[set->count].file = check ? *check : file_check();
    set->starts[set->count++] = set->text_used;
    wchar_t *path = set->text + set->text_used;
    wmemcpy(path, folder, folder_length);
    for (size_t i = 0; i < length; i++)
        path[folder_length + i] = is_separator(name[i]) ? L'\\' : name[i];
    path[folder_length + length] = L'\0';
    set->text_used += folder_length + length + 1;
    return 0;
}

/* Below, equal or above zero as a comes before, with or after b. */
static int order(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) - CSTR_EQUAL;
}

/* The order of the paths at a and b, the same path ordered as it was added
 * (its text lies further on the later it came). */
static int order_at(const path_set *set, size_t a, size_t b)
{
    int paths = order(set->text + set->starts[a], set->text + set->starts[b]);
    return paths != 0 ? paths : (set->starts[a] > set->starts[b]) - (set->starts[a] < set->starts[b]);
}

/* Swaps the paths at a and b, each with its check. */
static void swap(path_set *set, size_t a, size_t b)
{
    size_t start = set->starts[a];
    set->starts[a] = set->starts[b];
    set->starts[b] = start;
    path_check check = set->checks[a];
    set->checks[a] = set->checks[b];
    set->checks[b] = check;
}

/* Heapsort's step: the path at root sinks below every larger one in the
 * first count. */
static void sift_down(path_set *set, size_t root, size_t count)
{
    for (size_t child; (child = 2 * root + 1) < count; root = child) {
        if (child + 1 < count && order_at(set, child, child + 1) < 0)
            child++;
        if (order_at(set, root, child) >= 0)
            return;
        swap(set, root, child);
    }
}

/* Orders every path ignoring letter case, the same path as it was added. */
static void order_paths(path_set *set)
{
    for (size_t root = set->count / 2; root-- > 0;)
        sift_down(set, root, set->count);
    for (size_t count = set->count; count > 1; count--) {
        swap(set, 0, count - 1);
        sift_down(set, 0, count - 1);
    }
}

size_t first_case_clash(path_set *set)
{
    order_paths(set);
    for (size_t i = 0; i + 1 < set->count; i++) {
        const wchar_t *path = set->text + set->starts[i], *next = set->text + set->starts[i + 1];
        /* Folders of one name in two letter cases are one folder to Windows. */
        if (path[wcslen(path) - 1] != L'\\' && order(path, next) == 0 && wcscmp(path, next) != 0)
            return i;
    }
    return set->count;
}

void sort_path_set(path_set *set)
{
    order_paths(set);
    size_t kept = 0;
    for (size_t i = 0; i < set->count; i++) {
        if (kept > 0 && order(set->text + set->starts[kept - 1], set->text + set->starts[i]) == 0)
            kept--;
        set->checks[kept] = set->checks[i];
        set->starts[kept++] = set->starts[i];
    }
    set->count = kept;
}

size_t path_index(const path_set *set, const wchar_t *path)
{
    size_t low = 0, high = set->count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        int found = order(set->text + set->starts[middle], path);
        if (found == 0)
            return middle;
        if (found < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return set->count;
}

int path_in_set(const path_set *set, const wchar_t *path)
{
    return path_index(set, path) < set->count;
}

void free_path_set(path_set *set)
{
    free(set->text);
    free(set->starts);
    free(set->checks);
    *set = path_set();
}
