// The course that keeps itself current, end to end under Wine: version 1
// installed, its author's version 2 published on the tests' file server, a
// start that opens version 1 and fetches 2 out of the learner's way, the
// next start on version 2 with the learner's own lesson kept; then the
// documents an attacker would serve in its place, which change nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install_world.h"
#include "update/update_state.h"
#include "windows/install_guards.h"

namespace {

const std::string UPDATES = "..\\served-files\\";
const char LESSON[] = "\\lessons\\lesson-1.html";

class Updates : public ::testing::Test {
  protected:
    // A world with version (its setup's name) installed and opened once,
    // when no document is served: the check asked, got a 404, and counts
    // for nothing.
    void installed(const char *name, const char *program)
    {
        serve(NULL);
        w = make_world(name);
        program_run first = install(program);
        ASSERT_EQ(first.exit_code, 0) << first.output;
        expect_course_started(w);
        wait_for_check("The server answered 404.");
        EXPECT_FALSE(file_exists(w.install + "\\" + UPDATE_STATE_NAME));
    }

    void TearDown() override { serve(NULL); }

    // Serves the document named (NULL: none) at the course's updates address.
    static void serve(const char *document)
    {
        DeleteFileA((UPDATES + "e2e-update.txt").c_str());
        if (document) {
            ASSERT_TRUE(CopyFileA((UPDATES + document).c_str(), (UPDATES + "e2e-update.txt").c_str(), FALSE));
        }
    }

    // Waits until the check has written needle to the log and has ended.
    std::string wait_for_check(const char *needle)
    {
        std::string log = wait_for_file(w.install + "\\" + UPDATE_LOG_NAME, needle);
        EXPECT_NE(log.find(needle), std::string::npos) << log;
        HANDLE alone = NULL;
        for (int i = 0; i < 3000 && !(alone = claim_update_work(w.install.c_str())); i++)
            Sleep(10);
        EXPECT_NE(alone, nullptr) << "the check still runs";
        if (alone)
            CloseHandle(alone);
        return log;
    }

    program_run start_course()
    {
        int before = course_starts(w);
        program_run run;
        EXPECT_EQ(run_captured("cmd /c \"\"" + w.install + "\\start-e2e.bat\"\"", &run), 0) << run.output;
        wait_for_start_to_end(w, before);
        return run;
    }

    // A day gone since the last check, as the state says (none: never asked).
    void a_day_later()
    {
        std::string state = read_file(w.install + "\\" + UPDATE_STATE_NAME);
        if (state.empty())
            return;
        ASSERT_EQ(state.rfind("checked: ", 0), 0u) << state;
        ASSERT_TRUE(write_file(w.install + "\\" + UPDATE_STATE_NAME, "checked: 1" + state.substr(state.find('\n'))));
    }

    std::string downloaded(const char *name)
    {
        return w.install + "\\" + UPDATE_DOWNLOAD_FOLDER + "\\" + name;
    }

    world w;
};

TEST_F(Updates, AStartFetchesTheNextVersionAndTheOneAfterRunsIt)
{
    installed("updates", "e2e-updates-setup.exe");
    serve("e2e-update-2.txt");
    ASSERT_TRUE(write_file(w.install + LESSON, "<p>My own notes</p>\n"));
    program_run opened = start_course();
    EXPECT_EQ(opened.output.find("updated"), std::string::npos) << opened.output;
    std::string log = wait_for_check("Version 2.6 is downloaded; the next start puts it in place.");
    EXPECT_NE(log.find("It names a newer version of the course, signed by its author."), std::string::npos) << log;
    // What the version before pinned too comes from its own downloads.
    EXPECT_NE(log.find("Copying e2e-part-1.zip"), std::string::npos) << log;
    EXPECT_NE(log.find("Downloading e2e-part-old.zip"), std::string::npos) << log;
    EXPECT_FALSE(file_exists(w.install + "\\lessons\\old-lesson.html")) << "nothing is put in place before a start";

    program_run updated = start_course();
    EXPECT_NE(updated.output.find("E2E Course was updated to version 2.6."), std::string::npos) << updated.output;
    EXPECT_TRUE(file_exists(w.install + "\\lessons\\old-lesson.html")) << "version 2's new part";
    EXPECT_EQ(read_file(w.install + LESSON), "<p>My own notes</p>\n");
    EXPECT_TRUE(file_exists(w.install + "\\lessons\\lesson-1.new.html"));
    EXPECT_FALSE(file_exists(w.install + "\\" + UPDATE_DOWNLOAD_FOLDER)) << "the download folder goes";
    log = read_file(w.install + "\\" + UPDATE_LOG_NAME);
    EXPECT_NE(log.find("Kept your own"), std::string::npos) << log;
    EXPECT_NE(log.find("Install complete."), std::string::npos) << log;
}

TEST_F(Updates, WhatAnAttackerServesChangesNothing)
{
    installed("update-attacks", "e2e-updates-2-setup.exe");
    struct {
        const char *document;
        const char *logged;
    } attacks[] = {
        {"e2e-update-tampered.txt", "It is not signed by a key this course trusts."},
        {"e2e-update-1.txt", "It names no version newer than this one."},
        {"e2e-update-mixed.txt", "CHECK FAILED for the new setup."},
    };
    for (const auto &attack : attacks) {
        serve(attack.document);
        a_day_later();
        std::string before = read_file(w.install + "\\" + UPDATE_LOG_NAME);
        start_course();
        std::string log = wait_for_check(attack.logged);
        EXPECT_FALSE(file_exists(downloaded(UPDATE_DOCUMENT_NAME))) << attack.document;
        program_run next = start_course();
        EXPECT_EQ(next.output.find("updated"), std::string::npos) << attack.document << ": " << next.output;
        EXPECT_NE(log.substr(before.size()).find(attack.logged), std::string::npos) << attack.document;
    }
    EXPECT_TRUE(file_exists(w.install + "\\lessons\\old-lesson.html"));
}

} // namespace
