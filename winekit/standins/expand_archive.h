/* Microsoft.PowerShell.Archive\Expand-Archive -LiteralPath ARCHIVE
 * -DestinationPath DESTINATION -Force as Windows PowerShell 5.1 runs it with
 * its inbox module, 1.0.1.0, for the PowerShell stand-in. */
#ifndef QUILLBY_EXPAND_ARCHIVE_H
#define QUILLBY_EXPAND_ARCHIVE_H

/* Unpacks archive into destination (UTF-8 text), writing errors as
 * PowerShell writes them. Returns the status powershell -Command ends with:
 * 1 where Expand-Archive itself refuses (the destination cannot be made, the
 * archive is not there or not named .zip); else 0, also when entries were
 * skipped, or the archive was refused, or an entry failed and what this
 * call had unpacked was removed again: the module's helper functions write
 * those errors, and an error written inside a function leaves $? true in
 * its caller. */
int expand_archive(const char *archive, const char *destination);

#endif
