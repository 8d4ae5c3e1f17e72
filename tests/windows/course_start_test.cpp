// The course's start decided in-process, on a table of its own and a clock
// of its own: when the browser is sent to the course, when to the page that
// says why not, and what that page says; and COURSE_URL read as a
// connection asks for it.
#include <windows.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/course_address.h"
#include "app/start_seam.h"
#include "common/manifest.h"
#include "test_support.h"

namespace {

// What the fake Windows does, on the fake clock: -1 for never.
struct world_plan {
    bool running_before = false;     // this installation's python.exe runs already
    long answers_from_ms = -1;       // the address answers from then on
    long running_ends_ms = -1;       // a running python.exe stops then
    long server_listens_after = -1;  // a started server answers this long after its start
    long server_ends_after = -1;     // a started server ends this long after its start
    bool server_starts = true;
};

struct world_state {
    world_plan plan;
    ULONGLONG now = 0;
    int starts = 0;
    ULONGLONG started_at = 0;
    std::vector<std::string> opened;
    std::vector<ULONGLONG> opened_at;
};

world_state world;

bool reached(long at) { return at >= 0 && world.now >= (ULONGLONG)at; }

bool server_ended() { return world.starts > 0 && reached((long)world.started_at + world.plan.server_ends_after) &&
                             world.plan.server_ends_after >= 0; }

int fake_running(const char *)
{
    return world.plan.running_before && !reached(world.plan.running_ends_ms);
}

int fake_answers(const course_address *address)
{
    EXPECT_STREQ(address->port, "1");  // the offline course's address
    if (reached(world.plan.answers_from_ms))
        return 1;
    return world.starts > 0 && !server_ended() && world.plan.server_listens_after >= 0 &&
           world.now >= world.started_at + (ULONGLONG)world.plan.server_listens_after;
}

HANDLE fake_start(const char *)
{
    if (!world.plan.server_starts)
        return NULL;
    world.starts++;
    world.started_at = world.now;
    return (HANDLE)(INT_PTR)0x5e;
}

int fake_ended(HANDLE) { return server_ended(); }
void fake_close(HANDLE server) { EXPECT_EQ(server, (HANDLE)(INT_PTR)0x5e); }
ULONGLONG fake_now() { return world.now; }
void fake_pause(DWORD milliseconds) { world.now += milliseconds; }

void fake_open(const char *target, const char *)
{
    world.opened.push_back(target);
    world.opened_at.push_back(world.now);
}

const start_platform FAKE = {fake_running, fake_answers, fake_start, fake_ended, fake_close, fake_now, fake_pause,
                             fake_open};

class CourseStart : public ::testing::Test {
protected:
    std::string folder;

    void SetUp() override
    {
        folder = current_folder() + "\\course-start-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remove_tree(folder);
        CreateDirectoryA(folder.c_str(), NULL);
        world = world_state();
    }
    void TearDown() override { remove_tree(folder); }

    std::string page() const { return folder + "\\course-start-failed.html"; }

    int start(const world_plan &plan, const std::string &log = "")
    {
        world.plan = plan;
        if (!log.empty())
            write_file(folder + "\\course-server.log", log);
        return start_course_on(&FAKE, &START_TIMING, folder.c_str());
    }

    // The browser was sent to the failure page alone, which holds each text.
    void expect_page_only(const std::vector<std::string> &texts)
    {
        ASSERT_EQ(world.opened, std::vector<std::string>{page()});
        std::string shown = read_file(page());
        for (const std::string &text : texts)
            EXPECT_NE(shown.find(text), std::string::npos) << "missing: " << text << "\n" << shown;
    }
};

TEST_F(CourseStart, TheBrowserIsSentOnlyOnceTheCourseAnswers)
{
    world_plan slow;
    slow.server_listens_after = 6000;
    write_file(page(), "an earlier start's page");
    EXPECT_EQ(start(slow), 0);
    EXPECT_EQ(world.starts, 1);
    ASSERT_EQ(world.opened, std::vector<std::string>{COURSE_URL});
    EXPECT_GE(world.opened_at[0], 6000u);
    // Asked every poll, so sent within one poll of the server listening.
    EXPECT_LT(world.opened_at[0], 6000u + START_TIMING.poll_ms);
    EXPECT_FALSE(file_exists(page())) << "a start that worked leaves no failure page";
}

TEST_F(CourseStart, AServerThatEndsFirstIsExplainedWithItsLastLines)
{
    world_plan dying;
    dying.server_ends_after = 700;
    std::string early(6000, 'x');  // beyond the page's tail: left out
    EXPECT_EQ(start(dying, early + "\r\nTraceback (most recent call last):\r\n  File \"server.py\", line 3\r\n"
                           "ModuleNotFoundError: No module named 'lessonz'\r\n<script>alert(1)</script>\r\n"),
              1);
    expect_page_only({"could not start", "Its server stopped before it answered at http://127.0.0.1:1/",
                      "ModuleNotFoundError: No module named 'lessonz'", "&lt;script&gt;alert(1)&lt;/script&gt;",
                      folder + "\\course-server.log", "send that log file to the course's author"});
    std::string shown = read_file(page());
    EXPECT_EQ(shown.find("<script>"), std::string::npos) << "what the server printed must not run in the page";
    EXPECT_EQ(shown.find("xxxxxxxxxx"), std::string::npos) << "the page shows the log's end, from a line's start";
    EXPECT_LT(world.now, 700u + START_TIMING.poll_ms) << "an ended server is seen within a poll";
}

TEST_F(CourseStart, AServerThatNeverAnswersIsGivenTwoMinutes)
{
    world_plan silent;
    EXPECT_EQ(start(silent, "Serving on 0.0.0.0:9999\r\n"), 1);
    EXPECT_GE(world.now, START_TIMING.limit_ms);
    EXPECT_LT(world.now, START_TIMING.limit_ms + START_TIMING.poll_ms);
    expect_page_only({"Its server did not answer at http://127.0.0.1:1/ within 2 minutes", "Serving on 0.0.0.0:9999"});
}

TEST_F(CourseStart, ACourseRunningAlreadyIsOpenedAndNoSecondServerStarts)
{
    world_plan running;
    running.running_before = true;
    running.answers_from_ms = 0;
    EXPECT_EQ(start(running), 0);
    EXPECT_EQ(world.starts, 0);
    EXPECT_EQ(world.opened, std::vector<std::string>{COURSE_URL});

    // Still starting (a second double-click): opened once it answers.
    world_plan starting = running;
    starting.answers_from_ms = 3000;
    world = world_state();
    EXPECT_EQ(start(starting), 0);
    EXPECT_EQ(world.starts, 0);
    EXPECT_EQ(world.opened, std::vector<std::string>{COURSE_URL});
    EXPECT_GE(world.opened_at[0], 3000u);

    // One that stops instead (its window closed just before) is started
    // afresh once it has gone, and opened once that one answers.
    world_plan stopping = running;
    stopping.answers_from_ms = -1;
    stopping.running_ends_ms = 1000;
    stopping.server_listens_after = 500;
    world = world_state();
    EXPECT_EQ(start(stopping), 0);
    EXPECT_EQ(world.starts, 1);
    EXPECT_GE(world.started_at, 1000u);
    EXPECT_EQ(world.opened, std::vector<std::string>{COURSE_URL});
}

TEST_F(CourseStart, APortAnotherProgramHoldsIsNamedAndItsPageNeverShown)
{
    world_plan held;
    held.answers_from_ms = 0;
    EXPECT_EQ(start(held), 1);
    EXPECT_EQ(world.starts, 0) << "nothing of the course runs, yet the address answers: another program's";
    expect_page_only({"Port 1 of this computer is used by another program", "restart the computer"});

    // Taken while the server started: it ends, and the other one answers.
    world_plan taken;
    taken.server_ends_after = 500;
    taken.answers_from_ms = 500;
    world = world_state();
    EXPECT_EQ(start(taken), 1);
    EXPECT_EQ(world.starts, 1);
    expect_page_only({"Port 1 of this computer is used by another program"});

    // Held without answering: the server says it could not bind.
    world_plan unbound;
    unbound.server_ends_after = 500;
    world = world_state();
    EXPECT_EQ(start(unbound, "OSError: [WinError 10048] Only one usage of each socket address (protocol/network "
                             "address/port) is normally permitted\r\n"),
              1);
    expect_page_only({"Port 1 of this computer is used by another program"});
}

TEST_F(CourseStart, AServerThatCannotBeStartedIsExplained)
{
    world_plan missing;
    missing.server_starts = false;
    EXPECT_EQ(start(missing), 1);
    expect_page_only({"Its server stopped before it answered", "(nothing)"});
}

TEST_F(CourseStart, ALogInTheSystemsCodePageReadsOnThePage)
{
    world_plan dying;
    dying.server_ends_after = 0;
    // What Python writes into a file for "é" in code page 1252, Wine's here.
    EXPECT_EQ(start(dying, "FileNotFoundError: le\xe7on manquante\r\n"), 1);
    expect_page_only({"FileNotFoundError: le\xc3\xa7on manquante"});
}

TEST(CourseAddress, HostAndPortAsAConnectionAsksForThem)
{
    struct {
        const char *url, *host, *port;
    } cases[] = {
        {"http://127.0.0.1:8793/", "127.0.0.1", "8793"},
        {"http://127.0.0.1:8793/?unit=1&lang=fr%20x", "127.0.0.1", "8793"},
        {"http://localhost/lessons", "localhost", "80"},
        {"http://[::1]:9000#top", "::1", "9000"},
        {"http://[::1]/", "::1", "80"},
        {"http://learner@127.0.0.1:81/", "127.0.0.1", "81"},
    };
    for (const auto &each : cases) {
        course_address address;
        EXPECT_EQ(parse_course_address(each.url, &address), 0) << each.url;
        EXPECT_STREQ(address.host, each.host) << each.url;
        EXPECT_STREQ(address.port, each.port) << each.url;
    }
    std::string long_host = "http://" + std::string(COURSE_HOST_CAPACITY, 'h') + ":1/";
    for (const char *bad : {"127.0.0.1:8793", "http://:8793/", "http://[::1:8793/", "http://h:123456/",
                            long_host.c_str()}) {
        course_address address;
        EXPECT_EQ(parse_course_address(bad, &address), 1) << bad;
        EXPECT_STREQ(address.host, "") << bad;
    }
}

}  // namespace
