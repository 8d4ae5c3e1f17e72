/* What a shortcut on the Desktop opens. */
#ifndef QUILLBY_SHORTCUT_TARGET_H
#define QUILLBY_SHORTCUT_TARGET_H

/* 1 when shortcut_file is a shell shortcut whose target is target (the two
 * paths compared as Windows compares them, letter case aside); 0 when it is
 * not, is missing, or cannot be read. */
int shortcut_opens(const char *shortcut_file, const char *target);

#endif
