// The hidden command runner in this process: what it reports for children
// that cannot start, fail or succeed, and that it returns only once the
// child has ended.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "run_hidden.h"
#include "test_support.h"

namespace {

TEST(RunHidden, ReportsWhetherTheChildStartedAndSucceeded)
{
    EXPECT_EQ(run_hidden(NULL, "no-such-program-anywhere.exe --flag", INFINITE), 1);
    EXPECT_EQ(run_hidden(NULL, "cmd /c exit 0", INFINITE), 0);
    EXPECT_EQ(run_hidden(NULL, "cmd /c exit 3", INFINITE), 1);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(run_hidden((std::string(system) + "\\cmd.exe").c_str(), "cmd /c exit 0", INFINITE), 0);
    EXPECT_EQ(run_hidden("C:\\no\\such\\program.exe", "cmd /c exit 0", INFINITE), 1)
        << "a given program is never replaced by the search";
}

// The child waits two seconds (the prefix's timeout.exe) before it writes its
// file: the file is there the moment run_hidden returns.
TEST(RunHidden, ReturnsOnlyOnceTheChildHasEnded)
{
    const char *marker = "run_hidden_marker.txt";
    DeleteFileA(marker);
    EXPECT_EQ(run_hidden(NULL, "cmd /c \"timeout /t 2 /nobreak >nul & echo done>run_hidden_marker.txt\"", INFINITE),
              0);
    EXPECT_EQ(read_file(marker), "done\r\n");
    DeleteFileA(marker);
}

// A child past its time limit is ended and counts as failed: here it would
// have written its file after ten seconds, and never does.
TEST(RunHidden, EndsAChildPastItsTimeLimit)
{
    const char *marker = "run_hidden_late_marker.txt";
    DeleteFileA(marker);
    EXPECT_EQ(run_hidden(NULL, "cmd /c \"timeout /t 10 /nobreak >nul & echo late>run_hidden_late_marker.txt\"", 1000),
              1);
    Sleep(12000);
    EXPECT_FALSE(file_exists(marker));
}

}  // namespace
