/* Console output shared by every step of the installer. */
#ifndef QUILLBY_CONSOLE_H
#define QUILLBY_CONSOLE_H

/* Formatted printing to standard output, with no flush of its own. Text that
 * reaches a console reads as written whatever the console's code page; a
 * pipe or a file receives the bytes as formatted. */
void print_text(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Prints text and a line feed and flushes, so the learner sees the line even
 * if a later step blocks. */
void say(const char *text);

#endif
