// Whole installations under Wine, end to end: the installer built for the
// three-part test course downloads from the local HTTPS server, unpacks
// through the stand-in PowerShell, writes the launcher, makes the shortcut,
// and Wine's shell and command interpreter really run the launcher, which
// starts the stand-in python.exe and opens the (logged) browser.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <sstream>
#include <string>

#include "install_world.h"
#include "sha256.h"
#include "test_server.h"

namespace {

// The server's requests made with the test courses' user agent. Only the
// tests of this program and the hardening tests send it, and those never run
// side by side; the download tests, which may, send their own.
std::string course_requests()
{
    std::istringstream log(server_request_log());
    std::string line, lines;
    while (std::getline(log, line))
        if (line.find("\tQuillbyEndToEnd/1") != std::string::npos)
            lines += line + "\n";
    return lines;
}

TEST(Install, CompleteInstallation)
{
    world w = make_world("complete");
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    expect_shortcut(w);
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(w.install, w.desktop));
    expect_course_started(w);
}

TEST(Install, SecondRunOverTheFirstDoesItAllAgain)
{
    world w = make_world("twice");
    program_run first = install("e2e-setup.exe");
    // The course the first run started must have let go of python.exe, or
    // unpacking the runtime again fails (as on Windows).
    expect_course_started(w);
    FILE *stale = fopen((w.install + "\\start-e2e.bat").c_str(), "ab");
    ASSERT_NE(stale, nullptr);
    fputs("rem left from an edit\r\n", stale);
    fclose(stale);
    // The installation compiled the course with its runtime (the stand-in's
    // host Python writes its own version's name). Bytecode a first start
    // left, which the sources of a new version may not outdate (an archive's
    // entries all bear one date), goes before the course is compiled again.
    const std::string cache = w.install + "\\__pycache__";
    EXPECT_NE(read_file(w.python_log).find("-m compileall -q ."), std::string::npos) << read_file(w.python_log);
    EXPECT_TRUE(file_exists(cache)) << "the course was compiled after unpacking";
    ASSERT_TRUE(write_file(cache + "\\server.cpython-312.pyc", "stale bytecode"));
    program_run second = install("e2e-setup.exe");
    EXPECT_EQ(second.output, first.output);
    EXPECT_EQ(second.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_NE(read_file(cache + "\\server.cpython-312.pyc"), "stale bytecode");
    const std::string once = full_powershell_log(w.install, w.desktop);
    EXPECT_EQ(read_file(w.powershell_log), once + once);
}

// An update from the version before, whose runtime had one file more and
// whose fourth part held two lessons and a unit: what its archives brought
// and the current ones do not goes while it is as they brought it; the
// learner's own files stay, and so does a dropped lesson the course saved
// the learner's progress into.
TEST(Install, UpdateLeavesNothingStaleAndKeepsTheLearnersFiles)
{
    world w = make_world("update");
    const char *dropped[] = {"python\\python311._pth", "lessons\\old-lesson.html", "retired-unit",
                             "dl\\e2e-part-old.zip"};
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    for (const char *file : dropped)
        ASSERT_TRUE(file_exists(w.install + "\\" + file)) << file;
    ASSERT_TRUE(write_file(w.install + "\\lessons\\my-notes.txt", "mine"));
    ASSERT_TRUE(write_file(w.install + "\\progress.json", "{}"));
    const std::string saved = read_file(w.install + "\\lessons\\saved-lesson.html") + "<p>Done: 3 of 4</p>\n";
    ASSERT_TRUE(write_file(w.install + "\\lessons\\saved-lesson.html", saved));
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    for (const char *file : dropped)
        EXPECT_FALSE(file_exists(w.install + "\\" + file)) << file;
    EXPECT_EQ(read_file(w.install + "\\lessons\\my-notes.txt"), "mine");
    EXPECT_EQ(read_file(w.install + "\\progress.json"), "{}");
    EXPECT_EQ(read_file(w.install + "\\lessons\\saved-lesson.html"), saved);
}

// A lesson the learner changed that the new version still ships is the
// learner's: an update and then a rerun of the same setup each leave it as
// the learner made it, and put their own copy beside it, said in one line.
TEST(Install, ALessonTheLearnerChangedIsKeptThroughAnUpdateAndARerun)
{
    world w = make_world("learner-edit");
    const std::string lesson = w.install + "\\lessons\\lesson-1.html";
    const std::string beside = w.install + "\\lessons\\lesson-1.new.html";
    const std::string kept =
        text_mode("Kept your own lessons\\lesson-1.html; this update's version of it is lessons\\lesson-1.new.html.\n");
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string shipped = read_file(lesson);
    ASSERT_TRUE(write_file(lesson, "<p>my own solution</p>\n"));
    for (const char *setup : {"e2e-setup.exe", "e2e-setup.exe"}) {
        DeleteFileA(beside.c_str());
        const int starts = course_starts(w);
        program_run run = install(setup);
        wait_for_start_to_end(w, starts);
        EXPECT_EQ(run.exit_code, 0u) << run.output;
        EXPECT_NE(run.output.find(kept), std::string::npos) << run.output;
        EXPECT_EQ(read_file(lesson), "<p>my own solution</p>\n");
        EXPECT_EQ(read_file(beside), shipped);
    }
    EXPECT_FALSE(file_exists(w.install + "\\lessons\\old-lesson.html")) << "the rest of the update went in";
}

// A part pinned by its digest (so never seen by the author's checks) that
// holds two names differing only in letter case: Windows would keep one of
// them. Refused by name before anything is unpacked, by either road.
TEST(Install, NamesWindowsCannotHoldAreRefusedBeforeUnpacking)
{
    world w = make_world("names");
    program_run run = install("e2e-names-setup.exe");
    EXPECT_NE(run.output.find(text_mode("e2e-part-names.zip holds two files whose names differ only in letter case: "
                                        "notes/Intro.html and notes/intro.html; nothing was unpacked.\n")),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(read_file(w.powershell_log), "") << "nothing was unpacked";
    EXPECT_FALSE(file_exists(w.install + "\\python"));
    EXPECT_FALSE(file_exists(w.install + "\\update-staging"));
}

// An update whose second archive fails its pin unpacks nothing: the version
// before stays whole, with its own files, launcher and record.
TEST(Install, FailedUpdateLeavesTheEarlierInstallationWhole)
{
    world w = make_world("bad-part");
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string record = read_file(w.install + "\\dl\\installed-files.txt");
    const std::string unpacked = read_file(w.powershell_log);
    ASSERT_NE(record, "");
    const size_t requested_before = course_requests().size();
    program_run run = install("e2e-bad-part-setup.exe");
    const std::string pin(64, '0');
    // The second archive arrives whole; only its pin is wrong.
    std::string second = download_lines(PART_NAMES[1], served_size(PART_NAMES[1]));
    second = second.substr(0, second.find("Checksum verified"));
    std::string expected = BANNER + runtime_lines() + part_lines(1) + second;
    EXPECT_EQ(run.output.substr(0, text_mode(expected).size()), text_mode(expected));
    EXPECT_NE(run.output.find(text_mode("CHECK FAILED for e2e-part-2.zip.\nExpected checksum " + pin + "\n")),
              std::string::npos);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(read_file(w.powershell_log), unpacked) << "unpacked before every archive was verified";
    EXPECT_FALSE(file_exists(w.install + "\\dl\\e2e-part-2.zip")) << "the failed archive is deleted";
    EXPECT_EQ(course_requests().substr(requested_before).find("e2e-part-3.zip"), std::string::npos)
        << "a part after the failed one was fetched";
    for (const char *file : {"python\\python311._pth", "lessons\\old-lesson.html", "retired-unit\\intro.html",
                             "server.py", "start-e2e.bat"})
        EXPECT_TRUE(file_exists(w.install + "\\" + file)) << file;
    EXPECT_EQ(read_file(w.install + "\\dl\\installed-files.txt"), record);
}

TEST(Install, WithoutAProfileThereIsNoShortcutButTheCourseOpens)
{
    world w = make_world("no-profile");
    SetEnvironmentVariableA("USERPROFILE", NULL);
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_EQ(read_file(w.powershell_log).find("CreateShortcut"), std::string::npos);
    EXPECT_FALSE(file_exists(w.profile + "\\Desktop\\E2E Course.lnk"));
    expect_course_started(w);
}

// Unset, the folder is formed from "." and lies in the current folder; the
// commands name it by its full path, as PowerShell starts in the install
// folder itself.
TEST(Install, WithoutLocalAppDataTheCurrentFolderHoldsIt)
{
    world w = make_world("no-local");
    SetEnvironmentVariableA("LOCALAPPDATA", NULL);
    program_run run = install("e2e-setup.exe", w.root.c_str());
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.root + "\\E2ECourse");
    EXPECT_EQ(read_file(w.powershell_log).find(EXTRACT + w.root + "\\E2ECourse\\dl\\python.zip"), 0u);
}

// Empty, the folder begins with a backslash: the root of the current drive.
TEST(Install, EmptyLocalAppDataMeansTheRootOfTheCurrentDrive)
{
    world w = make_world("empty-local");
    SetEnvironmentVariableA("LOCALAPPDATA", "");
    remove_tree("C:\\E2ECourse");
    program_run run = install("e2e-setup.exe", "C:\\");
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files("C:\\E2ECourse");
    EXPECT_EQ(read_file(w.powershell_log).find(EXTRACT + std::string("C:\\E2ECourse\\dl\\python.zip")), 0u);
    remove_tree("C:\\E2ECourse");
}

// A user folder holding ' and the typographic ’: each is doubled inside the
// PowerShell literals, so unpacking and the shortcut work and the name cannot
// end a literal early.
TEST(Install, QuotesInTheUserFolderAreEscaped)
{
    const wchar_t wide_user[] = L"O'Brien\x2019s";
    char user[64];
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide_user, -1, user, sizeof user, NULL, NULL), 0);
    const std::string apostrophe = std::string(user).substr(7, std::string(user).size() - 8);
    const std::string escaped_user = "O''Brien" + apostrophe + apostrophe + "s";
    world w = make_world("quotes", user);
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    expect_shortcut(w);
    const std::string escaped_profile = w.root + "\\" + escaped_user;
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(escaped_profile + "\\AppData\\E2ECourse",
                                                               escaped_profile + "\\Desktop"));
}

// Where PowerShell cannot unpack at all, the setup unpacks each archive
// itself, says so, and the course is installed and starts.
TEST(Install, WherePowerShellFailsTheSetupUnpacksItself)
{
    world w = make_world("unpack-fails");
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_FAIL", "1");
    program_run run = install("e2e-setup.exe");
    std::string unpacked;
    for (const std::string &label : {std::string("the test runtime"), std::string(PART_NAMES[0]),
                                     std::string(PART_NAMES[1]), std::string(PART_NAMES[2])})
        unpacked += "PowerShell could not unpack " + label + "; this setup unpacked it itself.\n";
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + unpacked + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    expect_course_started(w);
}

// A file of the course held open through every retry (a program shows it,
// an antivirus scan that does not end): the update is undone, every file
// moved before it taken back, and the version before stays whole with its
// record; nothing of the update is left behind.
TEST(Install, AFileHeldOpenUndoesTheWholeUpdate)
{
    world w = make_world("held-file");
    ASSERT_EQ(install("e2e-old-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string record = read_file(w.install + "\\dl\\installed-files.txt");
    HANDLE held = CreateFileA((w.install + "\\server.py").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    program_run run = install("e2e-setup.exe");
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.output.find("Install complete."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(text_mode("Could not put server.py in place: another program holds it open, or it "
                                        "cannot be written. The update was undone: the course is as it was.")),
              std::string::npos)
        << run.output;
    // The record moves in before server.py would: it is the earlier one again.
    EXPECT_EQ(read_file(w.install + "\\dl\\installed-files.txt"), record);
    for (const char *file : {"python\\python311._pth", "lessons\\old-lesson.html", "retired-unit\\intro.html"})
        EXPECT_TRUE(file_exists(w.install + "\\" + file)) << file;
    for (const char *left : {"update-journal.txt", "update-staging", "update-set-aside"})
        EXPECT_FALSE(file_exists(w.install + "\\" + left)) << left;
}

// Under AppLocker, WDAC or Smart App Control PowerShell runs in Constrained
// Language Mode, set here through the machine-wide policy variable it reads
// where no real policy is installed: the unpacking still works, the shortcut
// command the setup ran is refused when run again, and the shortcut is there
// all the same, made through the shell.
TEST(Install, ShortcutUnderConstrainedLanguageMode)
{
    world w = make_world("constrained");
    const char *machine_environment = "System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, machine_environment, "__PSLockdownPolicy", REG_SZ, "4", 2),
              ERROR_SUCCESS);
    program_run run = install("e2e-setup.exe");
    const std::string log = read_file(w.powershell_log);
    // The log's last line, the shortcut command, less "powershell" and its line feed.
    const size_t last = log.rfind("powershell ");
    program_run refused = {"", "", 0};
    if (last != std::string::npos)
        run_captured("\"" + system_file("WindowsPowerShell\\v1.0\\powershell.exe") + "\"" +
                         log.substr(last + strlen("powershell"), log.size() - last - strlen("powershell\n")),
                     &refused);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, machine_environment, "__PSLockdownPolicy");
    ASSERT_NE(last, std::string::npos) << run.output;
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_EQ(log, full_powershell_log(w.install, w.desktop));
    EXPECT_NE(refused.output.find("Only core types are supported in this language mode."), std::string::npos)
        << refused.output;
    EXPECT_EQ(refused.exit_code, 1u);
    expect_shortcut(w);
}

// OneDrive's folder backup moved the Desktop, and the profile has no Desktop
// folder left: the shortcut goes where the shell shows the Desktop.
TEST(Install, ShortcutGoesOnTheMovedDesktop)
{
    world w = make_world("onedrive");
    ASSERT_TRUE(RemoveDirectoryA(w.desktop.c_str()));
    w.desktop = w.profile + "\\OneDrive\\Desktop";
    CreateDirectoryA((w.profile + "\\OneDrive").c_str(), NULL);
    CreateDirectoryA(w.desktop.c_str(), NULL);
    const char *folders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, folders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    char unmoved[MAX_PATH];
    DWORD type, size = sizeof unmoved;
    ASSERT_EQ(RegQueryValueExA(key, "Desktop", NULL, &type, (BYTE *)unmoved, &size), ERROR_SUCCESS);
    RegSetValueExA(key, "Desktop", 0, REG_EXPAND_SZ, (const BYTE *)w.desktop.c_str(), (DWORD)w.desktop.size() + 1);
    program_run run = install("e2e-setup.exe");
    RegSetValueExA(key, "Desktop", 0, type, (const BYTE *)unmoved, size);
    RegCloseKey(key);
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_shortcut(w);
    EXPECT_FALSE(file_exists(w.profile + "\\Desktop"));
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(w.install, w.desktop));
}

// A learner who double-clicks twice: the second setup, here naming the same
// folder in other letter case, finds the first still downloading, says so
// and fetches nothing; the first goes on.
TEST(Install, SecondSetupWhileTheFirstDownloadsTouchesNothing)
{
    world w = make_world("double-click");
    HANDLE first = start_hidden("\"" + in_downloads("e2e-slow-setup.exe") + "\"");
    ASSERT_NE(first, nullptr);
    // Its own request: the log is every test's.
    const char asked[] = "/slow-drip\tQuillbyEndToEnd/1";
    EXPECT_NE(wait_for_file(server_request_log_file(), asked).find(asked), std::string::npos);
    const std::string requests = course_requests();
    std::string shouted = w.local;
    CharUpperA(&shouted[0]);
    SetEnvironmentVariableA("LOCALAPPDATA", shouted.c_str());
    program_run second = install("e2e-setup.exe");
    EXPECT_EQ(second.output, text_mode(BANNER + std::string("This setup is already running in another window.\n")));
    EXPECT_EQ(second.exit_code, 1u);
    EXPECT_EQ(course_requests(), requests);
    EXPECT_EQ(WaitForSingleObject(first, 0), (DWORD)WAIT_TIMEOUT) << "the first setup goes on";
    TerminateProcess(first, 1);
    WaitForSingleObject(first, INFINITE);
    CloseHandle(first);
}

// Run again while the course runs: its python.exe (here a program that waits
// a minute) cannot be replaced, so nothing is fetched or made.
TEST(Install, SetupWhileTheCourseIsOpenFetchesNothing)
{
    world w = make_world("course-open");
    CreateDirectoryA(w.install.c_str(), NULL);
    CreateDirectoryA((w.install + "\\python").c_str(), NULL);
    const std::string python = w.install + "\\python\\python.exe";
    ASSERT_TRUE(CopyFileA(beside_test_program("..\\winekit\\standins\\timeout.exe").c_str(), python.c_str(), FALSE));
    HANDLE course = start_hidden("\"" + python + "\" /t 60");
    ASSERT_NE(course, nullptr);
    const std::string requests = course_requests();
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + std::string("The course is open. Close its window, then run this setup again.\n")));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(course_requests(), requests);
    EXPECT_FALSE(file_exists(w.install + "\\dl"));
    TerminateProcess(course, 1);
    WaitForSingleObject(course, INFINITE);
    CloseHandle(course);
}

// A server that cuts the connection inside every archive and answers Range:
// each archive is asked for its rest, and the learner sees an installation
// like an unbroken one.
TEST(Install, BrokenConnectionsResumeUnseen)
{
    world w = make_world("flaky");
    program_run run = install("e2e-flaky-setup.exe");
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    const std::string requests = course_requests();
    for (const std::string name : {"e2e-python.zip", PART_NAMES[0], PART_NAMES[1], PART_NAMES[2]})
        EXPECT_NE(requests.find("/flaky/" + name + "\tQuillbyEndToEnd/1\tbytes="), std::string::npos)
            << name << " was asked for its rest:\n" << requests;
}

// A teacher's USB stick: the setup and its archives, and no server at all
// at the course's addresses. The archives beside the setup, not those in
// the current folder, install the course, and stay as they were.
TEST(Install, ArchivesBesideTheSetupInstallWithNoNetwork)
{
    world w = make_world("usb-stick");
    const std::string stick = w.root + "\\stick";
    CreateDirectoryA(stick.c_str(), NULL);
    const std::string program = stick + "\\e2e-bundle-setup.exe";
    ASSERT_TRUE(CopyFileA(beside_test_program("e2e-bundle-setup.exe").c_str(), program.c_str(), FALSE));
    const std::string names[] = {"e2e-python.zip", PART_NAMES[0], PART_NAMES[1], PART_NAMES[2]};
    std::string before[4];
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(CopyFileA(("..\\served-files\\" + names[i]).c_str(), (stick + "\\" + names[i]).c_str(), FALSE));
        before[i] = read_file(stick + "\\" + names[i]);
    }
    program_run run;
    ASSERT_EQ(run_captured("\"" + program + "\"", &run, w.root.c_str()), 0);
    std::string expected = BANNER;
    for (int i = 0; i < 4; i++)
        expected += "Found " + std::string(i == 0 ? "the test runtime" : names[i]) + " beside this setup: " + stick +
                    "\\" + names[i] + "\n" +
                    download_lines(i == 0 ? "the test runtime" : names[i], served_size(names[i]), "Copying");
    EXPECT_EQ(run.output, text_mode(expected + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(read_file(stick + "\\" + names[i]), before[i]) << names[i];
}

// The pins the build computed from the archives it made, in table order.
TEST(Install, SelftestListsTheCourseTable)
{
    program_run run;
    ASSERT_EQ(run_captured("\"" + beside_test_program("e2e-setup.exe") + "\" --selftest", &run), 0);
    char digest[65];
    ASSERT_EQ(sha256_file_hex("..\\served-files\\e2e-python.zip", digest), 0);
    std::string expected = std::string("SHA-256 engine: OK\nPinned Python checksum: ") + digest + "\n";
    for (const char *name : PART_NAMES) {
        ASSERT_EQ(sha256_file_hex(("..\\served-files\\" + std::string(name)).c_str(), digest), 0);
        expected += std::string("Pinned payload part ") + name + ": " + digest + "\n";
    }
    EXPECT_EQ(run.output, text_mode(expected + "SELFTEST OK\n"));
    EXPECT_EQ(run.exit_code, 0u);
}

}  // namespace
