/* Console output shared by every step of the installer. */
#ifndef QUILLBY_SAY_H
#define QUILLBY_SAY_H

/* Writes text and a line feed to standard output and flushes it, so the
 * learner sees the line even if a later step blocks. */
void say(const char *text);

#endif
