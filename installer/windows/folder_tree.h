/* The install folder's tree, measured and removed without ever following a
 * link out of it, each name as it is on disk. */
#ifndef QUILLBY_FOLDER_TREE_H
#define QUILLBY_FOLDER_TREE_H

/* The bytes of every file under folder (a path of less than FOLDER_CAPACITY
 * bytes), in KB rounded up, down to a thousand levels; a junction or
 * symbolic link counts for nothing, whatever it points at. */
unsigned long folder_size_kb(const char *folder);

/* Removes folder (a path as for folder_size_kb) and everything in it,
 * read-only files too. A junction or symbolic link is removed itself, never
 * what it points at. Each file or folder that cannot be removed (one a
 * thousand levels down that is not empty among them) is named on a line
 * "Could not remove PATH."; the rest goes. Returns 0 when folder is gone (or
 * was not there), else 1. */
int remove_folder_tree(const char *folder);

/* Removes, under folder (a path as for folder_size_kb), every Python
 * bytecode file (*.pyc) in a __pycache__ folder, and each such folder this
 * leaves empty, never through a junction or symbolic link; what cannot be
 * removed stays, unnamed. Python writes them again from the sources: an
 * update whose module changed but kept its size and its archive's date
 * would otherwise run the bytecode of the version before. */
void remove_python_caches(const char *folder);

#endif
