// A learner's drive with little room left, for real: the fixture mounts a
// small file system as drive Q:, and each test fills it to the byte it
// needs. An update whose files do not fit, and a first installation that
// does not, are refused before anything is unpacked; a drive that fills
// while the update is staged leaves the version before whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install_world.h"
#include "test_support.h"

namespace {

const char DRIVE[] = "Q:";
const char FILLER[] = "Q:\\filler.bin";
const unsigned long long MARGIN = 4ull * 1024 * 1024;

unsigned long long free_bytes()
{
    ULARGE_INTEGER available;
    EXPECT_TRUE(GetDiskFreeSpaceExA("Q:\\", &available, NULL, NULL));
    return available.QuadPart;
}

// Writes the filler so that about left bytes stay free.
void leave_free(unsigned long long left)
{
    DeleteFileA(FILLER);
    HANDLE file = CreateFileA(FILLER, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    static char block[65536];
    for (unsigned long long rest = free_bytes() - left; rest > 0;) {
        DWORD count = rest < sizeof block ? (DWORD)rest : sizeof block, written = 0;
        if (!WriteFile(file, block, count, &written, NULL) || written == 0)
            break;
        rest -= written;
    }
    CloseHandle(file);
}

struct FullDisk : ::testing::Test {
    void SetUp() override
    {
        DeleteFileA(FILLER);
        ASSERT_GT(free_bytes(), 6 * 1024 * 1024ull) << "the fixture's drive Q: (it mounts it as root)";
    }
    void TearDown() override { DeleteFileA(FILLER); }
};

void expect_room_refused(const program_run &run)
{
    const std::string prefix = text_mode(std::string("Not enough free space on ") + DRIVE +
                                         " for the course's files: it needs ");
    size_t at = run.output.find(prefix);
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" MB more. Free some space, then run this setup again.", at), std::string::npos)
        << run.output;
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.output.find("Install complete."), std::string::npos) << run.output;
}

// The archives of the update fit (they replace their earlier copies); their
// files do not: nothing is unpacked, and version 1 stays whole, its record
// as it was.
TEST_F(FullDisk, AnUpdateWhoseFilesDoNotFitIsRefusedBeforeUnpacking)
{
    world w = make_world("update-too-big", "learner", DRIVE);
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string record = read_file(w.install + "\\dl\\installed-files.txt");
    const std::string unpacked = read_file(w.powershell_log);
    leave_free(MARGIN + 128 * 1024);
    program_run run = install("e2e-setup.exe");
    expect_room_refused(run);
    EXPECT_EQ(read_file(w.powershell_log), unpacked) << "nothing was unpacked";
    EXPECT_EQ(read_file(w.install + "\\dl\\installed-files.txt"), record);
    for (const char *file : {"lessons\\old-lesson.html", "python\\python311._pth", "server.py", "start-e2e.bat"})
        EXPECT_TRUE(file_exists(w.install + "\\" + file)) << file;
    EXPECT_FALSE(file_exists(w.install + "\\update-staging"));
}

// A first installation whose archives fit and whose files do not: only the
// verified downloads are left, and the next run, with room, completes.
TEST_F(FullDisk, AFirstInstallationThatDoesNotFitLeavesOnlyItsDownloads)
{
    world w = make_world("first-too-big", "learner", DRIVE);
    leave_free(MARGIN + 128 * 1024);
    program_run run = install("e2e-setup.exe");
    expect_room_refused(run);
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((w.install + "\\*").c_str(), &entry);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    std::string names;
    do
        if (strcmp(entry.cFileName, ".") && strcmp(entry.cFileName, ".."))
            names += std::string(entry.cFileName) + " ";
    while (FindNextFileA(listing, &entry));
    FindClose(listing);
    EXPECT_EQ(names, "dl ");
    EXPECT_TRUE(file_exists(w.install + "\\dl\\python.zip"));
    DeleteFileA(FILLER);
    program_run again = install("e2e-setup.exe");
    EXPECT_EQ(again.exit_code, 0u) << again.output;
    expect_installed_files(w.install);
    // Its server holds the course's port until its start has seen it answer.
    expect_course_started(w);
}

// Another program takes the drive's last bytes once the room was checked:
// the staging fails, goes, and version 1 is whole.
DWORD WINAPI fill_once_staging_starts(void *staging)
{
    for (int i = 0; i < 60000 && !file_exists(*(const std::string *)staging); i++)
        Sleep(1);
    leave_free(16 * 1024);
    return 0;
}

TEST_F(FullDisk, ADriveThatFillsWhileStagingLeavesTheVersionBeforeWhole)
{
    world w = make_world("fills-while-staging", "learner", DRIVE);
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string record = read_file(w.install + "\\dl\\installed-files.txt");
    std::string staging = w.install + "\\update-staging\\python";
    HANDLE filler = CreateThread(NULL, 0, fill_once_staging_starts, &staging, 0, NULL);
    ASSERT_NE(filler, nullptr);
    program_run run = install("e2e-setup.exe");
    WaitForSingleObject(filler, INFINITE);
    CloseHandle(filler);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_NE(run.output.find(text_mode("Could not unpack the test runtime.\n")), std::string::npos) << run.output;
    EXPECT_EQ(read_file(w.install + "\\dl\\installed-files.txt"), record);
    for (const char *file : {"lessons\\old-lesson.html", "python\\python311._pth", "server.py", "start-e2e.bat"})
        EXPECT_TRUE(file_exists(w.install + "\\" + file)) << file;
    EXPECT_FALSE(file_exists(w.install + "\\update-staging"));
}

} // namespace
