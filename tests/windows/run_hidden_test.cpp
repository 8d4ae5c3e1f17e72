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
    EXPECT_EQ(run_hidden(NULL, "no-such-program-anywhere.exe --flag"), 1);
    EXPECT_EQ(run_hidden(NULL, "cmd /c exit 0"), 0);
    EXPECT_EQ(run_hidden(NULL, "cmd /c exit 3"), 1);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(run_hidden((std::string(system) + "\\cmd.exe").c_str(), "cmd /c exit 0"), 0);
    EXPECT_EQ(run_hidden("C:\\no\\such\\program.exe", "cmd /c exit 0"), 1)
        << "a given program is never replaced by the search";
}

// The child waits two seconds (the prefix's timeout.exe) before it writes its
// file: the file is there the moment run_hidden returns.
TEST(RunHidden, ReturnsOnlyOnceTheChildHasEnded)
{
    const char *marker = "run_hidden_marker.txt";
    DeleteFileA(marker);
    EXPECT_EQ(run_hidden(NULL, "cmd /c \"timeout /t 2 /nobreak >nul & echo done>run_hidden_marker.txt\""), 0);
    EXPECT_EQ(read_file(marker), "done\r\n");
    DeleteFileA(marker);
}

}  // namespace
