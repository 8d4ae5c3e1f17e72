// The --selftest report of the real program byte for byte, the argument rule
// that chooses it, and the report of an engine that fails one vector.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>

#include "test_support.h"

namespace {

// The pins a report must list, in its own words, as the course's description
// gives them: the description is where a course's pins are written, once.
std::string pinned_lines(const char *description)
{
    std::istringstream lines(read_file(description));
    std::string line, runtime, parts;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key, first, second;
        fields >> key >> first >> second;
        if (key == "runtime_sha256:")
            runtime = "Pinned Python checksum: " + first + "\n";
        else if (key == "part:")
            parts += "Pinned payload part " + first + ": " + second + "\n";
    }
    EXPECT_NE(runtime, "") << description;
    EXPECT_NE(parts, "") << description;
    return runtime + parts;
}

program_run run_program(const char *program, const std::string &arguments)
{
    program_run run;
    std::string command = "\"" + beside_test_program(program) + "\" " + arguments;
    EXPECT_EQ(run_captured(command, &run), 0) << command;
    return run;
}

TEST(SelftestReport, DefaultCourseByteForByte)
{
    for (const char *arguments : {"--selftest", "--selftest --selftest extra \"with blank\""}) {
        program_run run = run_program("..\\quillby-setup.exe", arguments);
        EXPECT_EQ(run.output, text_mode("SHA-256 engine: OK\n" + pinned_lines(DEFAULT_COURSE) + "SELFTEST OK\n"))
            << arguments;
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.exit_code, 0u);
    }
}

TEST(SelftestReport, ListsWhateverTableTheBuildHas)
{
    program_run run = run_program("offline-setup.exe", "--selftest");
    EXPECT_EQ(run.output, text_mode("SHA-256 engine: OK\n" + pinned_lines(OFFLINE_COURSE) + "SELFTEST OK\n"));
    EXPECT_EQ(run.exit_code, 0u);
}

TEST(SelftestReport, OneFailingVectorFailsTheWholeReport)
{
    program_run run = run_program("broken-engine-setup.exe", "--selftest");
    EXPECT_EQ(run.output, text_mode("SHA-256 engine: FAILED\n" + pinned_lines(OFFLINE_COURSE) + "SELFTEST FAILED\n"));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.exit_code, 1u);
}

// Anything but the exact switch as the first argument installs; this course's
// addresses are closed ports, so the installation stops at its first download.
TEST(SelftestReport, OnlyTheExactFirstArgumentSelectsIt)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetEnvironmentVariableA("LOCALAPPDATA", temp);
    const std::string installs = text_mode(
        "Offline course - setup\n"
        "Nothing can be downloaded for this course.\n"
        "Could not reach the download address. Check the internet connection and try again.\n");
    for (const char *arguments : {"", "--SELFTEST", "-selftest", "---selftest", "--selftestx", "\"--selftest \"",
                                  "selftest", "/selftest", "install --selftest"}) {
        program_run run = run_program("offline-setup.exe", arguments);
        EXPECT_EQ(run.output, installs) << "arguments: " << arguments;
        EXPECT_EQ(run.exit_code, 1u) << "arguments: " << arguments;
    }
}

}  // namespace
