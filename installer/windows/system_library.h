/* A DLL that is not among Windows' known DLLs, loaded at run time by its
 * path in the system folder only, and its entry points resolved: none that
 * a hostile page left in the learner's Downloads folder is ever used. */
#ifndef QUILLBY_SYSTEM_LIBRARY_H
#define QUILLBY_SYSTEM_LIBRARY_H

#include <windows.h>

/* The module named, from the system folder; NULL when it is not there. */
static inline HMODULE load_system_library(const char *name)
{
    return LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

/* GetProcAddress hands back a generic pointer; each is cast to the type the
 * library's table declares for that entry point. 1 when it was found. */
template <typename function> static inline int resolve(HMODULE module, const char *name, function *entry)
{
    *entry = (function)(void *)GetProcAddress(module, name);
    return *entry != NULL;
}

#endif
