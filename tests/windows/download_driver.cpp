// Runs one verified download in a process of its own, so that a test sees
// exactly what a learner's console would and the result as exit status.
// Usage: download_driver URL PATH EXPECTED LABEL
#include <stdio.h>

#include "download/download.h"

int main(int argc, char **argv)
{
    if (argc != 5) {
        printf("usage: download_driver URL PATH EXPECTED LABEL\n");
        return 2;
    }
    return download_and_verify(argv[1], argv[2], argv[3], argv[4]);
}
