// What putting an update in place through staging costs beyond unpacking
// it (which happens either way): reading every installed file to tell the
// learner's changes, the journal, two renames a file, and removing what was
// set aside. Under Wine, on a course of FILES files of BYTES bytes each, in
// folders of 100, over an installed version of the same files.
// Usage: staging_bench.exe [FILES [BYTES]]; prints seconds.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "update/staged_moves.h"
#include "zip/file_check.h"
#include "zip/path_set.h"

static double seconds_since(const LARGE_INTEGER &start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

static void write_tree(const std::string &root, int files, const std::string &bytes)
{
    CreateDirectoryA(root.c_str(), NULL);
    for (int i = 0; i < files; i++) {
        const std::string folder = root + "\\unit-" + std::to_string(i / 100);
        CreateDirectoryA(folder.c_str(), NULL);
        FILE *file = fopen((folder + "\\file-" + std::to_string(i) + ".html").c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
}

int main(int argc, char **argv)
{
    int files = argc > 1 ? atoi(argv[1]) : 5000;
    size_t size = argc > 2 ? (size_t)atoll(argv[2]) : 4096;
    char here[MAX_PATH];
    GetCurrentDirectoryA(sizeof here, here);
    const std::string install = std::string(here) + "\\staging-bench";
    system(("rmdir /s /q \"" + install + "\" 2>nul").c_str());
    write_tree(install, files, std::string(size, 'a'));
    write_tree(install + "\\" + STAGING_FOLDER, files, std::string(size, 'b'));

    path_set moves = {};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < files; i++) {
        const std::string relative = "unit-" + std::to_string(i / 100) + "\\file-" + std::to_string(i) + ".html";
        const std::wstring wide(relative.begin(), relative.end());
        file_check installed;
        check_file((std::wstring(install.begin(), install.end()) + L"\\" + wide).c_str(), &installed);
        add_path(&moves, L"", wide.c_str(), wide.size(), &installed);
    }
    double checking = seconds_since(start);
    sort_path_set(&moves);
    QueryPerformanceCounter(&start);
    int status = apply_moves(install.c_str(), &moves);
    double moving = seconds_since(start);
    printf("staging_bench: %d files of %zu bytes: reading the installed files %.3f s, "
           "journal, moves and clean-up %.3f s (status %d)\n",
           files, size, checking, moving, status);
    free_path_set(&moves);
    system(("rmdir /s /q \"" + install + "\" 2>nul").c_str());
    return status;
}
