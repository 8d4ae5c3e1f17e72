// One installation's world for the end-to-end tests: its own local
// application data folder and profile, the stand-ins' logs, and what a
// complete installation of the three-part test course looks like.
#ifndef QUILLBY_INSTALL_WORLD_H
#define QUILLBY_INSTALL_WORLD_H

#include <string>

#include "test_support.h"

extern const char BANNER[];
extern const char *const PART_NAMES[3];
extern const char LAUNCHER[];
extern const char EXTRACT[];
extern const char COMPLETE[];
// The host Python the stand-in python.exe runs the course on.
extern const char HOST_PYTHON[];

struct world {
    std::string root, local, profile, install;
    std::string desktop; // where the shortcut goes: the profile's Desktop unless a test moves it
    std::string powershell_log, python_log;
};

// A fresh world under install-runs\name in base (our own folder, or a
// drive such as Q:), made the current one (through the environment the
// installer inherits); user names the folder that stands for the user.
world make_world(const std::string &name, const std::string &user = "learner", const std::string &base = "");

// A copy of a setup program built beside the tests in a folder of its own,
// as in a learner's Downloads, where no archive beside it spares the network.
std::string in_downloads(const char *program);

// Runs a setup program built beside the tests from such a copy, in
// working_folder (or ours).
program_run install(const char *program, const char *working_folder = NULL);

// What the downloads of the runtime and of the first count parts print.
std::string runtime_lines();
std::string part_lines(int count);
std::string download_lines(const std::string &label, long long size, const char *verb = "Downloading");
long long served_size(const std::string &name);

// The PowerShell command lines, paths given as they appear in the quotes.
std::string extraction(const std::string &archive, const std::string &destination);
std::string full_powershell_log(const std::string &install, const std::string &desktop);

// Waits (up to 30 s) for a file to hold needle; returns its text.
std::string wait_for_file(const std::string &path, const char *needle);

void expect_installed_files(const std::string &install);

// The shortcut on w.desktop exists and opens the launcher from the install folder.
void expect_shortcut(const world &w);
void expect_course_started(const world &w);

// How many times the course's server was started in w; and a wait until it
// was started more than starts_before times and that start has ended.
int course_starts(const world &w);
void wait_for_start_to_end(const world &w, int starts_before = 0);

// Waits (up to 30 s) until no setup or start holds the install folder.
void wait_for_install_folder(const std::string &install);

#endif
