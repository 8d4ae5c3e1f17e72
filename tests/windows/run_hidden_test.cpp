// The hidden command runner in this process: what it reports for children
// that cannot start, fail or succeed, where the child starts, and that it
// returns only once the child has ended.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"
#include "windows/run_hidden.h"

namespace {

// The system's cmd.exe running command_line in our own folder.
int run_cmd(const char *command_line, unsigned long limit_ms)
{
    return run_hidden(system_file("cmd.exe").c_str(), command_line, current_folder().c_str(), limit_ms);
}

TEST(RunHidden, ReportsWhetherTheChildStartedAndSucceeded)
{
    const std::string here = current_folder();
    EXPECT_EQ(run_cmd("cmd /c exit 0", INFINITE), 0);
    EXPECT_EQ(run_cmd("cmd /c exit 3", INFINITE), 1);
    EXPECT_EQ(run_hidden("C:\\no\\such\\program.exe", "cmd /c exit 0", here.c_str(), INFINITE), 1)
        << "a given program is never replaced by the search";
    EXPECT_EQ(run_hidden(NULL, "cmd /c exit 0", here.c_str(), INFINITE), 1) << "without a program nothing is searched for";
    EXPECT_EQ(run_hidden(system_file("cmd.exe").c_str(), "cmd /c exit 0", "C:\\no\\such\\folder", INFINITE),
              1);
}

// The child runs in the folder it is given, not in ours.
TEST(RunHidden, ChildStartsInTheWorkingFolder)
{
    const std::string folder = current_folder() + "\\run_hidden_folder";
    CreateDirectoryA(folder.c_str(), NULL);
    DeleteFileA((folder + "\\where.txt").c_str());
    EXPECT_EQ(run_hidden(system_file("cmd.exe").c_str(), "cmd /c cd >where.txt", folder.c_str(), INFINITE), 0);
    EXPECT_EQ(read_file(folder + "\\where.txt"), folder + "\r\n");
    remove_tree(folder);
}

// The child waits two seconds (the timeout.exe stand-in) before it writes
// its file: the file is there the moment run_hidden returns.
TEST(RunHidden, ReturnsOnlyOnceTheChildHasEnded)
{
    const char *marker = "run_hidden_marker.txt";
    const std::string late = beside_test_program("..\\winekit\\standins\\timeout.exe");
    DeleteFileA(marker);
    EXPECT_EQ(run_cmd(("cmd /c \"\"" + late + "\" /t 2 /nobreak >nul & echo done>run_hidden_marker.txt\"").c_str(),
                      INFINITE),
              0);
    EXPECT_EQ(read_file(marker), "done\r\n");
    DeleteFileA(marker);
}

// A child past its time limit is ended and counts as failed: a ten-second
// wait that would have ended with status 0 fails after one second, and its
// program file is free the moment run_hidden returns, as it is only once no
// process runs from it (while one does, Windows refuses to write to it).
TEST(RunHidden, EndsAChildPastItsTimeLimit)
{
    const std::string child = current_folder() + "\\run_hidden_late_child.exe";
    ASSERT_TRUE(CopyFileA(beside_test_program("..\\winekit\\standins\\timeout.exe").c_str(), child.c_str(), FALSE));
    EXPECT_EQ(run_hidden(child.c_str(), "timeout /t 10 /nobreak", current_folder().c_str(), 1000), 1);
    HANDLE image = CreateFileA(child.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(image, INVALID_HANDLE_VALUE) << "the child still runs (error " << GetLastError() << ")";
    CloseHandle(image);
    DeleteFileA(child.c_str());
}

}  // namespace
