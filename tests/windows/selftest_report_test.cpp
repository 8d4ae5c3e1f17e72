// The --selftest report of the real program byte for byte, the argument rule
// that chooses it, and the report of an engine that fails one vector.
#include <gtest/gtest.h>
#include <windows.h>

#include "test_support.h"

namespace {

const char DEFAULT_COURSE_REPORT[] =
    "SHA-256 engine: OK\n"
    "Pinned Python checksum: 4acbed6dd1c744b0376e3b1cf57ce906f9dc9e95e68824584c8099a63025a3c3\n"
    "Pinned payload part quillby-payload-1.zip: c579e7686531ab50aa46d3292e690989f99ca110d35443716e8bad0f05a4f2ab\n"
    "Pinned payload part quillby-payload-2.zip: 32c661cb96bc782c882f6a1104fbf31d42c11bc4875b88544674462a33148d15\n"
    "SELFTEST OK\n";

const char OFFLINE_PINS[] =
    "Pinned Python checksum: 0000000000000000000000000000000000000000000000000000000000000000\n"
    "Pinned payload part offline-a.zip: 1111111111111111111111111111111111111111111111111111111111111111\n"
    "Pinned payload part offline-b.zip: 2222222222222222222222222222222222222222222222222222222222222222\n"
    "Pinned payload part offline-c.zip: 3333333333333333333333333333333333333333333333333333333333333333\n";

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
        EXPECT_EQ(run.output, text_mode(DEFAULT_COURSE_REPORT)) << arguments;
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.exit_code, 0u);
    }
}

TEST(SelftestReport, ListsWhateverTableTheBuildHas)
{
    program_run run = run_program("offline-setup.exe", "--selftest");
    EXPECT_EQ(run.output, text_mode(std::string("SHA-256 engine: OK\n") + OFFLINE_PINS + "SELFTEST OK\n"));
    EXPECT_EQ(run.exit_code, 0u);
}

TEST(SelftestReport, OneFailingVectorFailsTheWholeReport)
{
    program_run run = run_program("broken-engine-setup.exe", "--selftest");
    EXPECT_EQ(run.output, text_mode(std::string("SHA-256 engine: FAILED\n") + OFFLINE_PINS + "SELFTEST FAILED\n"));
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
