/* The code page Windows PowerShell reads a zip's unflagged names in. */
#ifndef QUILLBY_SYSTEM_CODE_PAGE_H
#define QUILLBY_SYSTEM_CODE_PAGE_H

/* The system's ANSI code page, .NET Framework's Encoding.Default, in which
 * Expand-Archive decodes each entry name not flagged UTF-8. A program whose
 * manifest asks for UTF-8 gets 65001 from GetACP instead; this is the code
 * page of every program that does not (65001 too where the learner turned
 * on "Use Unicode UTF-8 for worldwide language support"). */
unsigned system_ansi_code_page(void);

#endif
