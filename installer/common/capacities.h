/* The capacities of the installer's text buffers, in bytes with the
 * terminator: every buffer that holds a path or an address is sized from
 * these, and every command line from the paths that go into it
 * (powershell_command.h), so no two files can disagree. */
#ifndef QUILLBY_CAPACITIES_H
#define QUILLBY_CAPACITIES_H

enum {
    /* The install folder, and each folder in it. */
    FOLDER_CAPACITY = 1200,
    /* A file in one of those folders: the folder, a backslash and a name. */
    FILE_PATH_CAPACITY = 1400,
    /* An archive's address: the base address, a slash and the part's name. */
    ADDRESS_CAPACITY = 1600,
    /* A path between PowerShell's single quotes, every quote doubled: at
     * worst every byte of it twice. */
    QUOTED_PATH_CAPACITY = 2 * (FILE_PATH_CAPACITY - 1) + 1,
};

#endif
