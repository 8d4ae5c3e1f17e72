// Runs one verified download in a process of its own, so that a test sees
// exactly what a learner's console would and the result as exit status.
// Usage: download_driver URL PATH EXPECTED LABEL [LIMIT]
//        download_driver --document URL [TIMEOUT_MS]   (the update document's fetch)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "download/download.h"
#include "download/fetch_small.h"
#include "update_check.h"
#include "update/update_document.h"

int main(int argc, char **argv)
{
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "--document") == 0) {
        wininet_library internet;
        if (wininet_load(&internet) != 0)
            return 2;
        char document[UPDATE_DOCUMENT_LIMIT + 1];
        size_t length = 0;
        unsigned long timeout_ms = argc == 4 ? strtoul(argv[3], NULL, 10) : UPDATE_ASK_TIMEOUT_MS;
        int fetched = fetch_small(&internet, argv[2], timeout_ms, document, sizeof document, &length);
        printf("fetched %d, %lu bytes\n", fetched, (unsigned long)length);
        wininet_unload(&internet);
        return 0;
    }
    if (argc != 5 && argc != 6) {
        printf("usage: download_driver URL PATH EXPECTED LABEL [LIMIT]\n");
        return 2;
    }
    if (argc == 6)
        return download_within(argv[1], argv[2], argv[3], strtoull(argv[5], NULL, 10), argv[4]);
    return download_and_verify(argv[1], argv[2], argv[3], argv[4]);
}
