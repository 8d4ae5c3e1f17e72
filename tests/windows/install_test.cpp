// Whole installations under Wine, end to end: the installer built for the
// three-part test course downloads from the local HTTPS server, unpacks
// through the stand-in PowerShell, writes the launcher, makes the shortcut,
// and Wine's shell and command interpreter really run the launcher, which
// starts the stand-in python.exe and opens the (logged) browser.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "test_support.h"

namespace {

const char BANNER[] = "End-to-end course - setup\nThis installs the end-to-end test course.\n";
const char *const PART_NAMES[] = {"e2e-part-1.zip", "e2e-part-2.zip", "e2e-part-3.zip"};
const char LAUNCHER[] =
    "@echo off\r\n"
    "cd /d \"%~dp0\"\r\n"
    "start \"\" /min python\\python.exe server.py\r\n"
    "timeout /t 2 /nobreak >nul\r\n"
    "start http://127.0.0.1:8793/\r\n";
const char EXTRACT[] = "powershell -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -LiteralPath '";

// One installation's world: its own local application data folder, profile
// with a desktop, and the logs the stand-ins write.
struct world {
    std::string root, local, profile, install;
    std::string powershell_log, python_log;
};

std::string current_folder()
{
    char path[MAX_PATH];
    GetCurrentDirectoryA(sizeof path, path);
    return path;
}

// A fresh world under install-runs\name; folder is the name of the folder
// that stands for the user (it may hold quotes in the ANSI code page).
world make_world(const std::string &name, const std::string &user = "learner")
{
    world w;
    CreateDirectoryA("install-runs", NULL);
    w.root = current_folder() + "\\install-runs\\" + name;
    remove_tree(w.root);
    CreateDirectoryA(w.root.c_str(), NULL);
    w.profile = w.root + "\\" + user;
    w.local = w.profile + "\\AppData";
    w.install = w.local + "\\E2ECourse";
    CreateDirectoryA(w.profile.c_str(), NULL);
    CreateDirectoryA((w.profile + "\\Desktop").c_str(), NULL);
    CreateDirectoryA(w.local.c_str(), NULL);
    w.powershell_log = w.root + "\\powershell.log";
    w.python_log = w.root + "\\python.log";
    SetEnvironmentVariableA("LOCALAPPDATA", w.local.c_str());
    SetEnvironmentVariableA("USERPROFILE", w.profile.c_str());
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_LOG", w.powershell_log.c_str());
    SetEnvironmentVariableA("QUILLBY_PYTHON_LOG", w.python_log.c_str());
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_FAIL", NULL);
    return w;
}

program_run install(const char *program, const char *working_folder = NULL)
{
    program_run run;
    EXPECT_EQ(run_captured("\"" + beside_test_program(program) + "\"", &run, working_folder), 0);
    EXPECT_EQ(run.errors, "");
    return run;
}

long long served_size(const std::string &name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(("..\\served-files\\" + name).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// What a verified download prints when every read but the last fills the
// 16384-byte buffer, as Wine's WinINet does.
std::string download_lines(const std::string &label, long long size)
{
    std::string text = "Downloading " + label + " ... ";
    for (long long total = 0; total < size;) {
        total += size - total < 16384 ? size - total : 16384;
        if (total % 524288 < 16384)
            text += "\rDownloading " + label + " ... " + std::to_string(total / 1024) + " KB";
    }
    return text + "\rDownloading " + label + " ... " + std::to_string(size / 1024) + " KB, done.          \n" +
           "Checksum verified for " + label + ".\n";
}

std::string runtime_lines()
{
    return download_lines("the test runtime", served_size("e2e-python.zip"));
}

std::string part_lines(int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += download_lines(PART_NAMES[i], served_size(PART_NAMES[i]));
    return text;
}

std::string extraction(const std::string &archive, const std::string &destination)
{
    return EXTRACT + archive + "' -DestinationPath '" + destination + "' -Force\"\n";
}

std::string shortcut_command(const std::string &shortcut, const std::string &target, const std::string &folder)
{
    return "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object -ComObject "
           "WScript.Shell).CreateShortcut('" +
           shortcut + "');$s.TargetPath='" + target + "';$s.WorkingDirectory='" + folder + "';$s.Save()\"\n";
}

// The command lines of a complete installation, paths as they must appear
// inside the quotes (install and profile given already escaped).
std::string full_powershell_log(const std::string &install, const std::string &profile)
{
    std::string log = extraction(install + "\\dl\\python.zip", install + "\\python");
    for (const char *name : PART_NAMES)
        log += extraction(install + "\\dl\\" + name, install);
    return log + shortcut_command(profile + "\\Desktop\\E2E Course.lnk", install + "\\start-e2e.bat", install);
}

// The launcher runs on after the installer has ended; its traces come later.
std::string wait_for_file(const std::string &path, const char *needle)
{
    for (int i = 0; i < 300; i++) {
        std::string text = read_file(path);
        if (text.find(needle) != std::string::npos)
            return text;
        Sleep(100);
    }
    return read_file(path);
}

void expect_installed_files(const std::string &install)
{
    EXPECT_TRUE(file_exists(install + "\\dl\\python.zip"));
    for (const char *name : PART_NAMES)
        EXPECT_TRUE(file_exists(install + "\\dl\\" + name)) << name;
    EXPECT_TRUE(file_exists(install + "\\python\\python.exe"));
    EXPECT_FALSE(file_exists(install + "\\python.exe")) << "the runtime goes into its own folder";
    EXPECT_TRUE(file_exists(install + "\\server.py"));
    EXPECT_TRUE(file_exists(install + "\\index.html"));
    EXPECT_TRUE(file_exists(install + "\\assets\\style.css"));
    EXPECT_TRUE(file_exists(install + "\\lessons\\lesson-1.html"));
    EXPECT_EQ(read_file(install + "\\start-e2e.bat"), LAUNCHER);
}

void expect_course_started(const world &w)
{
    std::string python = wait_for_file(w.python_log, "server.py");
    EXPECT_NE(python.find("cwd=" + w.install + " "), std::string::npos) << python;
    EXPECT_NE(python.find("python\\python.exe"), std::string::npos) << python;
    EXPECT_NE(python.find("server.py"), std::string::npos) << python;
    // The browser stand-in runs on the host side of Wine, out of reach of
    // this process's environment: one log for all, each line naming the
    // folder the browser was started in.
    const std::string run_folder = w.install.substr(w.install.find("\\install-runs\\") + 1);
    std::string line = run_folder;
    for (char &c : line)
        if (c == '\\')
            c = '/';
    line += " http://127.0.0.1:8793/";
    EXPECT_NE(wait_for_file("..\\browser.log", line.c_str()).find(line), std::string::npos)
        << "the launcher opens the course address from the install folder";
}

TEST(Install, CompleteInstallation)
{
    world w = make_world("complete");
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + runtime_lines() + part_lines(3) + "Install complete. Opening the course...\n"));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_EQ(sizeof LAUNCHER - 1, 127u);
    EXPECT_TRUE(file_exists(w.profile + "\\Desktop\\E2E Course.lnk"));
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(w.install, w.profile));
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
    program_run second = install("e2e-setup.exe");
    EXPECT_EQ(second.output, first.output);
    EXPECT_EQ(second.exit_code, 0u);
    expect_installed_files(w.install);
    const std::string once = full_powershell_log(w.install, w.profile);
    EXPECT_EQ(read_file(w.powershell_log), once + once);
}

TEST(Install, FailedPartStopsAfterTheEarlierOnes)
{
    world w = make_world("bad-part");
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
    EXPECT_TRUE(file_exists(w.install + "\\python\\python.exe"));
    EXPECT_TRUE(file_exists(w.install + "\\server.py")) << "the first part stays unpacked";
    EXPECT_FALSE(file_exists(w.install + "\\dl\\e2e-part-2.zip")) << "the failed archive is deleted";
    EXPECT_FALSE(file_exists(w.install + "\\dl\\e2e-part-3.zip")) << "later parts are not fetched";
    EXPECT_FALSE(file_exists(w.install + "\\assets"));
    EXPECT_FALSE(file_exists(w.install + "\\start-e2e.bat"));
    EXPECT_FALSE(file_exists(w.profile + "\\Desktop\\E2E Course.lnk"));
    EXPECT_EQ(read_file(w.powershell_log), extraction(w.install + "\\dl\\python.zip", w.install + "\\python") +
                                               extraction(w.install + "\\dl\\e2e-part-1.zip", w.install));
}

TEST(Install, WithoutAProfileThereIsNoShortcutButTheCourseOpens)
{
    world w = make_world("no-profile");
    SetEnvironmentVariableA("USERPROFILE", NULL);
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output,
              text_mode(BANNER + runtime_lines() + part_lines(3) + "Install complete. Opening the course...\n"));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_EQ(read_file(w.powershell_log).find("CreateShortcut"), std::string::npos);
    EXPECT_FALSE(file_exists(w.profile + "\\Desktop\\E2E Course.lnk"));
    expect_course_started(w);
}

// Unset, the folder is formed from "." and lies in the current folder.
TEST(Install, WithoutLocalAppDataTheCurrentFolderHoldsIt)
{
    world w = make_world("no-local");
    SetEnvironmentVariableA("LOCALAPPDATA", NULL);
    program_run run = install("e2e-setup.exe", w.root.c_str());
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.root + "\\E2ECourse");
    EXPECT_EQ(read_file(w.powershell_log).find(EXTRACT + std::string(".\\E2ECourse\\dl\\python.zip")), 0u);
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
    EXPECT_EQ(read_file(w.powershell_log).find(EXTRACT + std::string("\\E2ECourse\\dl\\python.zip")), 0u);
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
              text_mode(BANNER + runtime_lines() + part_lines(3) + "Install complete. Opening the course...\n"));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    EXPECT_TRUE(file_exists(w.profile + "\\Desktop\\E2E Course.lnk"));
    const std::string escaped_profile = w.root + "\\" + escaped_user;
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(escaped_profile + "\\AppData\\E2ECourse", escaped_profile));
}

TEST(Install, FailedUnpackingEndsTheInstallation)
{
    world w = make_world("unpack-fails");
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_FAIL", "1");
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + "Could not unpack the test runtime.\n"));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(w.install + "\\dl\\e2e-part-1.zip"));
    EXPECT_FALSE(file_exists(w.install + "\\start-e2e.bat"));
}

TEST(Install, MissingPowerShellEndsTheInstallation)
{
    world w = make_world("no-powershell");
    char path[4096];
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", "C:\\windows\\system32;C:\\windows");
    program_run run = install("e2e-setup.exe");
    SetEnvironmentVariableA("PATH", path);
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + "Could not unpack the test runtime.\n"));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(w.powershell_log));
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
