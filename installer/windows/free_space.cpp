/* Room on the learner's drive, checked before anything is written. */
#include "windows/free_space.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "common/capacities.h"
#include "common/console.h"

static const unsigned long long CLUSTER_BYTES = 4096, MEGABYTE = 1024 * 1024;

unsigned long long on_disk(unsigned long long bytes)
{
    return (bytes + CLUSTER_BYTES - 1) / CLUSTER_BYTES * CLUSTER_BYTES;
}

/* The volume's name as a learner knows it: "D:" for D:\, else its root
 * folder (a drive mounted into a folder, a share) without the last
 * backslash. */
static void volume_name(const char *folder, char volume[FOLDER_CAPACITY])
{
    if (!GetVolumePathNameA(folder, volume, FOLDER_CAPACITY))
        snprintf(volume, FOLDER_CAPACITY, "%s", folder);
    size_t length = strlen(volume);
    if (length > 1 && volume[length - 1] == '\\')
        volume[length - 1] = '\0';
}

int room_for(const char *folder, unsigned long long bytes, const char *what)
{
    ULARGE_INTEGER available;
    /* What this user may still write: a quota counts, as Windows counts it. */
    if (!GetDiskFreeSpaceExA(folder, &available, NULL, NULL))
        return 0;
    unsigned long long needed = bytes + ROOM_MARGIN_BYTES;
    if (available.QuadPart >= needed)
        return 0;
    char volume[FOLDER_CAPACITY];
    volume_name(folder, volume);
    print_text("Not enough free space on %s for %s: it needs %llu MB more. "
               "Free some space, then run this setup again.\n",
               volume, what, (needed - available.QuadPart + MEGABYTE - 1) / MEGABYTE);
    fflush(stdout);
    return 1;
}
