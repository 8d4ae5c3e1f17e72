// The staged update put in place as a database commits: in-process, on an
// install folder of the test's own, the disk stops taking changes after
// each single step in turn (the journal's write, each move, the journal's
// removal), as a power cut would, and the next start must leave exactly one
// whole version. Then a file held open through every retry, and journals
// that must not be followed: damaged, cut short, or naming what was not
// staged.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "test_support.h"
#include "update/apply_seam.h"
#include "update/staged_moves.h"

namespace {

typedef std::map<std::string, std::string> version;

// Version 1 in place; version 2 brings a changed file, a new one in a new
// folder, and its own record.
const version V1 = {{"index.html", "one"}, {"lessons\\a.html", "lesson a, one"}, {"dl\\record.txt", "record one"}};
const version V2 = {{"index.html", "two"},
                    {"lessons\\a.html", "lesson a, two"},
                    {"units\\deep\\b.html", "new in two"},
                    {"dl\\record.txt", "record two"}};

// The disk takes this many more changes, then none; every refused move is
// one an antivirus scan never lets go of, where held names it.
int changes_left;
std::wstring held;
int pauses;

unsigned long counted_move(const wchar_t *from, const wchar_t *to)
{
    if (!held.empty() && (wcsstr(from, held.c_str()) || wcsstr(to, held.c_str())))
        return ERROR_SHARING_VIOLATION;
    if (changes_left-- <= 0)
        return ERROR_WRITE_FAULT;
    return APPLY_STEPS.move_file(from, to);
}

int counted_write(const char *journal, const char *bytes, size_t length)
{
    return changes_left-- <= 0 ? 1 : APPLY_STEPS.write_journal(journal, bytes, length);
}

int counted_remove(const char *journal)
{
    return changes_left-- <= 0 ? 1 : APPLY_STEPS.remove_journal(journal);
}

void counted_pause(unsigned long)
{
    pauses++;
}

const apply_steps STOPPING = {counted_move, counted_write, counted_remove, counted_pause};

std::wstring wide(const std::string &text)
{
    wchar_t units[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, units, MAX_PATH);
    return units;
}

struct StagedMoves : ::testing::Test {
    // One folder a test: CTest runs them side by side.
    std::string folder =
        current_folder() + "\\staged-moves-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    path_set moves = {};

    void write_version(const std::string &root, const version &files)
    {
        for (const auto &file : files) {
            const std::string path = root + "\\" + file.first;
            for (size_t at = path.find('\\', root.size() + 1); at != std::string::npos; at = path.find('\\', at + 1))
                CreateDirectoryA(path.substr(0, at).c_str(), NULL);
            ASSERT_TRUE(write_file(path, file.second)) << path;
        }
    }
    void SetUp() override
    {
        remove_tree(folder);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
        write_version(folder, V1);
        const std::string staging = folder + "\\" + STAGING_FOLDER;
        ASSERT_TRUE(CreateDirectoryA(staging.c_str(), NULL));
        write_version(staging, V2);
        for (const auto &file : V2) {
            file_check check;
            ASSERT_EQ(check_file(wide(staging + "\\" + file.first).c_str(), &check), 0);
            const std::wstring name = wide(file.first);
            ASSERT_EQ(add_path(&moves, L"", name.c_str(), name.size(), &check), 0);
        }
        sort_path_set(&moves);
        changes_left = 1 << 30;
        held.clear();
        pauses = 0;
    }
    void TearDown() override
    {
        free_path_set(&moves);
        remove_tree(folder);
    }
    // The course's files, outside what the update uses on its way.
    version installed(const std::string &root, const std::string &relative = "")
    {
        version found;
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA((root + "\\" + relative + "*").c_str(), &entry);
        for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileA(listing, &entry)) {
            const std::string name = relative + entry.cFileName;
            if (!strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, "..") || name == STAGING_FOLDER ||
                name == SET_ASIDE_FOLDER || name == JOURNAL_NAME)
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                version below = installed(root, name + "\\");
                found.insert(below.begin(), below.end());
            } else {
                found[name] = read_file(root + "\\" + name);
            }
        }
        if (listing != INVALID_HANDLE_VALUE)
            FindClose(listing);
        return found;
    }
    void expect_nothing_left_on_the_way()
    {
        for (const char *left : {STAGING_FOLDER, SET_ASIDE_FOLDER, JOURNAL_NAME})
            EXPECT_FALSE(file_exists(folder + "\\" + left)) << left;
    }
    std::string recover()
    {
        testing::internal::CaptureStdout();
        EXPECT_EQ(recover_update(folder.c_str()), 0);
        return testing::internal::GetCapturedStdout();
    }
};

// A clean run takes one journal write, a move aside and a move in for each
// of the three files version 1 has, one move for the new file, and the
// journal's removal: nine changes. Stopped after any number of them, the
// next start finishes the update (every staged file is whole); stopped
// before the journal was written, it finds nothing to do.
TEST_F(StagedMoves, AStopAfterAnyStepIsFinishedByTheNextStart)
{
    for (int stop = 0; stop <= 10; stop++) {
        SetUp();
        changes_left = stop;
        testing::internal::CaptureStdout();
        int applied = apply_moves_on(&STOPPING, folder.c_str(), &moves);
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(applied, stop >= 8 ? 0 : 1) << stop << said;
        const std::string recovered = recover();
        if (stop == 0) {
            EXPECT_EQ(said, "Could not write the update's journal into the install folder; nothing was changed.\n");
            EXPECT_EQ(installed(folder), V1);
            EXPECT_EQ(recovered, "");
            // Without a journal the staging folder is the next setup's to clear.
            remove_tree(folder + "\\" + STAGING_FOLDER);
        } else {
            EXPECT_EQ(installed(folder), V2) << "stopped after " << stop << " changes";
            EXPECT_EQ(recovered, stop >= 9 ? "" : "An update of this course had stopped half-way: it is now finished.\n")
                << stop;
        }
        expect_nothing_left_on_the_way();
        EXPECT_EQ(recover(), "") << "a start after that finds nothing to do";
        TearDown();
    }
}

// The update undone by a stop half-way (its own undo cut off in turn after
// each step) is still finished or undone whole by the next start.
TEST_F(StagedMoves, AStopWhileUndoingLeavesOneWholeVersion)
{
    for (int stop = 1; stop <= 12; stop++) {
        SetUp();
        held = L"units\\deep\\b.html";
        // The undo of a move that could not be made starts at once.
        changes_left = stop;
        testing::internal::CaptureStdout();
        EXPECT_EQ(apply_moves_on(&STOPPING, folder.c_str(), &moves), 1);
        testing::internal::GetCapturedStdout();
        held.clear();
        recover();
        const version now = installed(folder);
        EXPECT_TRUE(now == V1 || now == V2) << "stopped after " << stop << " changes";
        expect_nothing_left_on_the_way();
        TearDown();
    }
}

// A file held open is tried again, then everything moved before it goes
// back: version 1 whole, and the line names the file.
TEST_F(StagedMoves, AFileHeldOpenThroughEveryRetryUndoesTheUpdate)
{
    held = L"lessons\\a.html";
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_moves_on(&STOPPING, folder.c_str(), &moves), 1);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("Could not put lessons\\a.html in place: another program holds it open", 0), 0u) << said;
    EXPECT_EQ(pauses, MOVE_TRIES - 1);
    EXPECT_EQ(installed(folder), V1);
    expect_nothing_left_on_the_way();
}

// A journal is followed only when it is whole and everything it names is
// where a stop could have left it: otherwise nothing is moved and the
// course must not start.
TEST_F(StagedMoves, AJournalThatCannotBeTrustedIsNotFollowed)
{
    const std::string journal = folder + "\\" + JOURNAL_NAME;
    const std::string outside = folder + "-outside.txt";
    ASSERT_TRUE(write_file(outside, "the learner's"));
    const std::string unreadable = "An update of this course stopped half-way, and its journal cannot be read: "
                                   "run this course's setup again.\n";
    struct {
        const char *what, *text;
    } untrusted[] = {
        {"a way out", "..\\staged-moves-AJournalThatCannotBeTrustedIsNotFollowed-outside.txt\t3\t00000000\r\nend\r\n"},
        {"cut short at a line's end", "index.html\t3\t12345678\r\n"},
        {"a line without what was staged", "index.html\r\nend\r\n"},
        {"nothing but its end", "end\r\n"},
    };
    for (const auto &c : untrusted) {
        ASSERT_TRUE(write_file(journal, c.text));
        testing::internal::CaptureStdout();
        EXPECT_EQ(recover_update(folder.c_str()), 1) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), unreadable) << c.what;
        EXPECT_EQ(installed(folder), V1) << c.what;
    }
    EXPECT_EQ(read_file(outside), "the learner's");
    DeleteFileA(outside.c_str());

    // Whole, but a staged file no longer holds what the journal says: the
    // moves made are taken back, none is made.
    changes_left = 3;
    testing::internal::CaptureStdout();
    apply_moves_on(&STOPPING, folder.c_str(), &moves);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(write_file(folder + "\\" + STAGING_FOLDER + "\\units\\deep\\b.html", "changed since"));
    EXPECT_EQ(recover(), "An update of this course had stopped half-way and could not be finished: "
                         "the version before it is back.\n");
    EXPECT_EQ(installed(folder), V1);
    expect_nothing_left_on_the_way();
}

} // namespace
