// The course's start under Wine, end to end, as a learner meets it on every
// start: the installed course's launcher run through cmd.exe, the stand-in
// python.exe running each test's own server.py on the host's Python, and
// the (logged) browser. One installation serves them all.
#include <winsock2.h>
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "install_world.h"
#include "update/staged_moves.h"
#include "zip/file_check.h"

namespace {

const char COURSE_ADDRESS[] = "http://127.0.0.1:8793/?unit=1&lang=fr%20x";
const char FAILURE_PAGE[] = "course-start-failed.html";

class Launcher : public ::testing::Test {
protected:
    static world w;

    static void SetUpTestSuite()
    {
        w = make_world("launcher");
        // The log names the same folder for every test's installation: its
        // start is the one that comes after this.
        size_t before = read_file("..\\browser.log").size();
        program_run run = install("e2e-setup.exe");
        ASSERT_EQ(run.exit_code, 0u) << run.output;
        ASSERT_NE(opened_since(before, COURSE_ADDRESS).find(COURSE_ADDRESS), std::string::npos)
            << "the installation's own start opened the course";
    }

    // The browser's log from here on, and the python.exe starts.
    size_t browser_mark = 0, python_mark = 0;

    void SetUp() override
    {
        browser_mark = read_file("..\\browser.log").size();
        python_mark = read_file(w.python_log).size();
    }

    // The browser log's lines since mark that this installation's starts
    // wrote (each names the folder the browser was started in): a launcher
    // that an earlier test left may still be at work.
    static std::string browser_since(size_t mark)
    {
        std::string lines, line, log = read_file("..\\browser.log").substr(mark);
        for (size_t start = 0, end; start < log.size(); start = end + 1) {
            end = log.find('\n', start);
            if (end == std::string::npos)
                end = log.size();
            line = log.substr(start, end - start);
            if (line.find("/install-runs/launcher/") != std::string::npos)
                lines += line + "\n";
        }
        return lines;
    }

    static int count_of(const std::string &text, const char *needle)
    {
        int count = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            count++;
        return count;
    }

    // The browser stand-in runs on the host, after the launcher has asked:
    // what the browser was asked for since mark, once it holds needle times
    // times (or after 30 s).
    static std::string opened_since(size_t mark, const char *needle, int times = 1)
    {
        for (int i = 0; i < 600; i++) {
            std::string opened = browser_since(mark);
            if (count_of(opened, needle) >= times)
                return opened;
            Sleep(50);
        }
        return browser_since(mark);
    }

    int server_starts() const { return count_of(read_file(w.python_log).substr(python_mark), "server.py"); }

    static void use_server(const std::string &script) { ASSERT_TRUE(write_file(w.install + "\\server.py", script)); }

    static std::string launcher_command() { return "cmd /c \"\"" + w.install + "\\start-e2e.bat\"\""; }

    static program_run start_course()
    {
        program_run run;
        EXPECT_EQ(run_captured(launcher_command(), &run), 0);
        return run;
    }
};

world Launcher::w;

// Binds only after a first start's delay: the browser must not be sent
// before.
const char SLOW_SERVER[] = "import pathlib, socket, time\n"
                           "time.sleep(6)\n"
                           "with socket.create_server(('127.0.0.1', 8793)) as server:\n"
                           "    pathlib.Path('listening').touch()\n"
                           "    server.accept()[0].close()\n";

TEST_F(Launcher, TheBrowserIsSentToTheCourseOnlyOnceItListens)
{
    use_server(SLOW_SERVER);
    ULONGLONG started = GetTickCount64();
    HANDLE launcher = start_hidden(launcher_command());
    ASSERT_NE(launcher, nullptr);
    std::string opened = opened_since(browser_mark, COURSE_ADDRESS);
    ULONGLONG opened_after = GetTickCount64() - started;
    WaitForSingleObject(launcher, 30000);
    CloseHandle(launcher);
    ASSERT_NE(opened.find(COURSE_ADDRESS), std::string::npos) << opened;
    EXPECT_GE(opened_after, 6000u) << "the browser was sent to the course before its server listened";
    EXPECT_TRUE(file_exists(w.install + "\\listening"));
    EXPECT_EQ(server_starts(), 1);
}

TEST_F(Launcher, AServerThatDiesAtItsStartIsExplainedOnAPage)
{
    use_server("import lessons_that_are_not_there\n");
    program_run run = start_course();
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find("E2E Course could not start: the page in your browser says why."), std::string::npos)
        << run.output;
    std::string opened = opened_since(browser_mark, FAILURE_PAGE);
    EXPECT_NE(opened.find(FAILURE_PAGE), std::string::npos) << opened;
    EXPECT_EQ(opened.find(COURSE_ADDRESS), std::string::npos) << "sent to an address where nothing answers";
    std::string page = read_file(w.install + "\\" + FAILURE_PAGE);
    EXPECT_NE(page.find("Its server stopped before it answered"), std::string::npos) << page;
    EXPECT_NE(page.find("ModuleNotFoundError: No module named 'lessons_that_are_not_there'"), std::string::npos)
        << page;
    EXPECT_NE(read_file(w.install + "\\course-server.log").find("ModuleNotFoundError"), std::string::npos);
}

// An update stopped half-way, its new server.py staged and the earlier one
// set aside: the start finishes it first, says so, and starts the new one.
TEST_F(Launcher, AnUpdateStoppedHalfWayIsFinishedBeforeTheCourseStarts)
{
    use_server("raise SystemExit('the version before ran')\n");
    const std::string staged = w.install + "\\" + STAGING_FOLDER, set_aside = w.install + "\\" + SET_ASIDE_FOLDER;
    CreateDirectoryA(staged.c_str(), NULL);
    CreateDirectoryA(set_aside.c_str(), NULL);
    ASSERT_TRUE(write_file(staged + "\\server.py", "import pathlib, socket\n"
                                                   "pathlib.Path('updated').touch()\n"
                                                   "with socket.create_server(('127.0.0.1', 8793)) as server:\n"
                                                   "    server.accept()[0].close()\n"));
    ASSERT_TRUE(MoveFileA((w.install + "\\server.py").c_str(), (set_aside + "\\server.py").c_str()));
    file_check check;
    wchar_t path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, (staged + "\\server.py").c_str(), -1, path, MAX_PATH);
    ASSERT_EQ(check_file(path, &check), 0);
    char line[64];
    snprintf(line, sizeof line, "server.py\t%llu\t%08x\r\nend\r\n", (unsigned long long)check.size, check.crc);
    ASSERT_TRUE(write_file(w.install + "\\" + JOURNAL_NAME, line));
    program_run run = start_course();
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("An update of this course had stopped half-way: it is now finished."),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(file_exists(w.install + "\\updated")) << "the new server.py ran";
    EXPECT_NE(opened_since(browser_mark, COURSE_ADDRESS).find(COURSE_ADDRESS), std::string::npos);
    for (const char *left : {STAGING_FOLDER, SET_ASIDE_FOLDER, JOURNAL_NAME})
        EXPECT_FALSE(file_exists(w.install + "\\" + left)) << left;
}

// A journal that cannot be followed: the course is never started on what
// may be a mix of two versions, and the page says to run the setup again.
TEST_F(Launcher, AnUpdateThatCanBeNeitherFinishedNorUndoneIsExplainedOnAPage)
{
    use_server("import pathlib\npathlib.Path('started').touch()\n");
    const std::string journal = w.install + "\\" + JOURNAL_NAME;
    ASSERT_TRUE(write_file(journal, "end\r\n"));
    program_run run = start_course();
    DeleteFileA(journal.c_str());
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find("An update of this course stopped half-way, and its journal cannot be read"),
              std::string::npos)
        << run.output;
    std::string opened = opened_since(browser_mark, FAILURE_PAGE);
    EXPECT_NE(opened.find(FAILURE_PAGE), std::string::npos) << opened;
    EXPECT_EQ(opened.find(COURSE_ADDRESS), std::string::npos);
    EXPECT_NE(read_file(w.install + "\\" + FAILURE_PAGE).find("run this course's setup again"), std::string::npos);
    EXPECT_FALSE(file_exists(w.install + "\\started")) << "the server was started";
}

// Serves until the test leaves a file that says stop.
const char LASTING_SERVER[] = "import os, socket\n"
                              "with socket.create_server(('127.0.0.1', 8793)) as server:\n"
                              "    server.settimeout(0.2)\n"
                              "    while not os.path.exists('stop'):\n"
                              "        try:\n"
                              "            server.accept()[0].close()\n"
                              "        except TimeoutError:\n"
                              "            pass\n"
                              "os.remove('stop')\n";

TEST_F(Launcher, ASecondStartWhileTheCourseRunsOpensItAgain)
{
    use_server(LASTING_SERVER);
    EXPECT_EQ(start_course().exit_code, 0u);
    program_run second = start_course();
    EXPECT_EQ(second.exit_code, 0u) << second.output;
    EXPECT_NE(second.output.find("E2E Course is running already; opening it."), std::string::npos) << second.output;
    std::string opened = opened_since(browser_mark, COURSE_ADDRESS, 2);
    ASSERT_TRUE(write_file(w.install + "\\stop", ""));
    EXPECT_EQ(count_of(opened, COURSE_ADDRESS), 2) << "opened, then opened again: " << opened;
    EXPECT_EQ(server_starts(), 1) << "one server start in all";
    for (int i = 0; i < 100 && file_exists(w.install + "\\stop"); i++)
        Sleep(100);
}

TEST_F(Launcher, APortAnotherProgramHoldsIsNamedAndTheCourseNeverShown)
{
    WSADATA winsock;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
    SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    // The servers of the tests before closed their connections first: under
    // Wine, as on Linux, the port stays bound a minute unless reuse is asked.
    BOOL reuse = TRUE;
    setsockopt(other, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(8793);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A server an earlier test's launcher started may still hold the port
    // for a moment: it ends once its start has seen it answer.
    int bound = -1;
    for (int i = 0; i < 300 && (bound = bind(other, (sockaddr *)&address, sizeof address)) != 0; i++)
        Sleep(100);
    ASSERT_EQ(bound, 0);
    ASSERT_EQ(listen(other, 4), 0);
    use_server(LASTING_SERVER);
    program_run run = start_course();
    closesocket(other);
    WSACleanup();
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_EQ(server_starts(), 0) << "nothing of the course runs, yet the address answers";
    std::string opened = opened_since(browser_mark, FAILURE_PAGE);
    EXPECT_NE(opened.find(FAILURE_PAGE), std::string::npos) << opened;
    EXPECT_EQ(opened.find(COURSE_ADDRESS), std::string::npos) << "the other program's page shown as the course";
    EXPECT_NE(read_file(w.install + "\\" + FAILURE_PAGE).find("Port 8793 of this computer is used by another program"),
              std::string::npos);
}

}  // namespace
