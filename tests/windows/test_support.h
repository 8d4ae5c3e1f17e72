// What the Windows tests share: finding the programs built beside them and
// running one with its output captured.
#ifndef QUILLBY_TEST_SUPPORT_H
#define QUILLBY_TEST_SUPPORT_H

#include <string>

// A file in the folder of the running test program.
std::string beside_test_program(const char *name);

// The current folder, and a file under the system folder, as full paths.
std::string current_folder();
std::string system_file(const char *name);

typedef struct {
    std::string output;      // everything written to standard output
    std::string errors;      // everything written to standard error
    unsigned long exit_code;
} program_run;

// Runs command_line with its standard output and error captured, in
// working_folder (or the caller's own when NULL); returns 0 once it has
// ended, 1 when it could not be started.
int run_captured(const std::string &command_line, program_run *run, const char *working_folder = NULL);

// Starts command_line with no console and its standard handles on NUL, in
// working_folder (or the caller's own when NULL), without waiting; returns
// the process handle, or NULL when it could not be started.
void *start_hidden(const std::string &command_line, const char *working_folder = NULL);

bool file_exists(const std::string &path);

// A whole file's bytes; "" when it cannot be read.
std::string read_file(const std::string &path);

// Creates or replaces a file holding bytes; false when it cannot.
bool write_file(const std::string &path, const std::string &bytes);

// Deletes a folder and everything in it; a missing folder is no error.
void remove_tree(const std::string &path);

// Makes link (relative to the current folder, with /) a symbolic link to
// target: Wine shows it as a folder that is a reparse point, and makes none
// itself. False when it cannot.
bool link_folder(const char *target, const char *link);

// What a Windows console program writes for text printed in text mode:
// every line feed becomes CR LF.
std::string text_mode(const std::string &text);

#endif
