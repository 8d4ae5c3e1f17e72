// The course in Windows' list of installed apps, end to end under Wine:
// Wine's own uninstaller program reads the user's Uninstall entries as
// Settings > Apps does ("--list") and runs an entry's uninstall command
// ("--remove KEY").
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <string.h>

#include <string>

#include "install_world.h"

namespace {

const char UNINSTALL_KEYS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The name of the entry whose InstallLocation is the world's install folder,
// "" when there is none.
std::string entry_key(const world &w)
{
    HKEY keys;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEYS, 0, KEY_READ, &keys) != ERROR_SUCCESS)
        return "";
    std::string found;
    char name[256], location[MAX_PATH];
    for (DWORD i = 0; found.empty(); i++) {
        DWORD length = sizeof name, size = sizeof location;
        if (RegEnumKeyExA(keys, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        if (RegGetValueA(keys, name, "InstallLocation", RRF_RT_REG_SZ, NULL, location, &size) == ERROR_SUCCESS &&
            w.install == location)
            found = name;
    }
    RegCloseKey(keys);
    return found;
}

std::string entry_text(const std::string &key, const char *value)
{
    char text[2 * MAX_PATH] = "";
    DWORD size = sizeof text;
    RegGetValueA(HKEY_CURRENT_USER, (std::string(UNINSTALL_KEYS) + "\\" + key).c_str(), value, RRF_RT_REG_SZ, NULL,
                 text, &size);
    return text;
}

DWORD entry_number(const std::string &key, const char *value)
{
    DWORD number = 0, size = sizeof number;
    RegGetValueA(HKEY_CURRENT_USER, (std::string(UNINSTALL_KEYS) + "\\" + key).c_str(), value, RRF_RT_REG_DWORD, NULL,
                 &number, &size);
    return number;
}

program_run uninstaller(const std::string &arguments)
{
    program_run run;
    EXPECT_EQ(run_captured("\"" + system_file("uninstaller.exe") + "\" " + arguments, &run), 0);
    return run;
}

unsigned long long tree_bytes(const std::string &folder)
{
    unsigned long long bytes = 0;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &entry);
    do {
        const std::string name = entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != "..")
                bytes += tree_bytes(folder + "\\" + name);
        } else {
            bytes += (unsigned long long)entry.nFileSizeHigh << 32 | entry.nFileSizeLow;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return bytes;
}

// Runs a host program through Wine, with Windows paths made Unix ones.
void run_on_host(const char *program, const std::string &first, const std::string &second = "")
{
    typedef char *(__cdecl * unix_name_function)(const wchar_t *);
    typedef LONG(__cdecl * unix_spawn_function)(char *const argv[], int wait);
    unix_name_function unix_name = (unix_name_function)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                              "wine_get_unix_file_name");
    unix_spawn_function spawn =
        (unix_spawn_function)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp");
    ASSERT_TRUE(unix_name && spawn);
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, first.c_str(), -1, wide, MAX_PATH);
    std::string unix_first = unix_name(wide), unix_second;
    MultiByteToWideChar(CP_ACP, 0, second.c_str(), -1, wide, MAX_PATH);
    if (!second.empty())
        unix_second = unix_name(wide);
    const char *flag = second.empty() ? "-f" : "-s";
    char *const argv[] = {(char *)program, (char *)flag, &unix_first[0], second.empty() ? NULL : &unix_second[0], NULL};
    ASSERT_EQ(spawn(argv, 1), 0);
}

// The launcher's command interpreter outlives the browser's start by a
// moment, in the install folder, which a current folder keeps from removal.
void wait_for_launcher_to_end()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        HANDLE process = _stricmp(entry.szExeFile, "cmd.exe") == 0
                             ? OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)
                             : NULL;
        if (process) {
            EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

// An installation as the learner leaves it: the course started, its
// launcher ended. Returns the name of its entry.
std::string install_and_leave(const world &w)
{
    EXPECT_EQ(install("e2e-setup.exe").exit_code, 0u);
    expect_course_started(w);
    wait_for_launcher_to_end();
    return entry_key(w);
}

TEST(AppsList, CompletedInstallationIsListedAndRelisted)
{
    world w = make_world("listed");
    ASSERT_EQ(install("e2e-setup.exe").exit_code, 0u);
    const std::string key = entry_key(w);
    ASSERT_NE(key, "");
    EXPECT_NE(uninstaller("--list").output.find(key + "|||E2E Course"), std::string::npos);
    EXPECT_EQ(entry_text(key, "DisplayVersion"), "2.5.1");
    EXPECT_EQ(entry_text(key, "Publisher"), "Quillby tests");
    const std::string kept = w.install + "\\setup.exe";
    EXPECT_EQ(entry_text(key, "UninstallString"), "\"" + kept + "\" --uninstall");
    EXPECT_EQ(entry_text(key, "DisplayIcon"), kept + ",0");
    EXPECT_EQ(read_file(kept), read_file(beside_test_program("e2e-setup.exe")));
    // Measured before the launcher was written.
    EXPECT_EQ(entry_number(key, "EstimatedSize"), (tree_bytes(w.install) - strlen(LAUNCHER) + 1023) / 1024);
    SYSTEMTIME today;
    GetLocalTime(&today);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    EXPECT_EQ(entry_text(key, "InstallDate"), date);
    EXPECT_EQ(entry_number(key, "NoModify"), 1u);
    EXPECT_EQ(entry_number(key, "NoRepair"), 1u);

    // A later installation writes the entry afresh.
    const std::string path = std::string(UNINSTALL_KEYS) + "\\" + key;
    RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "DisplayVersion", REG_SZ, "0.9", 4);
    RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "Comments", REG_SZ, "stale", 6);
    expect_course_started(w);
    ASSERT_EQ(install("e2e-setup.exe").exit_code, 0u);
    EXPECT_EQ(entry_text(key, "DisplayVersion"), "2.5.1");
    EXPECT_EQ(entry_text(key, "Comments"), "");
}

// The course's python.exe (here a program that waits a minute) is running.
TEST(AppsList, UninstallWhileTheCourseIsOpenRemovesNothing)
{
    world w = make_world("uninstall-course-open");
    ASSERT_EQ(install("e2e-setup.exe").exit_code, 0u);
    expect_course_started(w);
    const std::string python = w.install + "\\python\\python.exe";
    ASSERT_TRUE(CopyFileA(beside_test_program("..\\winekit\\standins\\timeout.exe").c_str(), python.c_str(), FALSE));
    HANDLE course = start_hidden("\"" + python + "\" /t 60");
    ASSERT_NE(course, nullptr);
    // The second names, as the one handed over to would, a process handle:
    // its own pseudo-handle, which must not pass for another's.
    for (const char *arguments : {"--uninstall", "--uninstall 18446744073709551615"}) {
        program_run run;
        ASSERT_EQ(run_captured("\"" + w.install + "\\setup.exe\" " + arguments, &run), 0);
        EXPECT_EQ(run.output, text_mode("The course is open. Close its window, then run this setup again.\n"))
            << arguments;
        EXPECT_EQ(run.exit_code, 1u) << arguments;
    }
    TerminateProcess(course, 1);
    WaitForSingleObject(course, INFINITE);
    CloseHandle(course);
    expect_installed_files(w.install);
    EXPECT_TRUE(file_exists(w.install + "\\setup.exe"));
    EXPECT_NE(entry_key(w), "");
    expect_shortcut(w);
}

// Installed from Downloads, the setup deleted; a link in the install folder
// leads to the learner's own folder. Wine cannot remove a Unix symbolic link
// to a folder by any Windows call (Windows removes the link itself), so the
// first removal names it and keeps the entry; with the link gone, the second
// removes the rest.
TEST(AppsList, RemovedFromTheListLongAfterTheSetupWasDeleted)
{
    world w = make_world("uninstall-full");
    const std::string downloads = w.profile + "\\Downloads";
    const std::string setup = downloads + "\\e2e-setup.exe";
    CreateDirectoryA(downloads.c_str(), NULL);
    ASSERT_TRUE(CopyFileA(beside_test_program("e2e-setup.exe").c_str(), setup.c_str(), FALSE));
    program_run installed;
    ASSERT_EQ(run_captured("\"" + setup + "\"", &installed, downloads.c_str()), 0);
    ASSERT_EQ(installed.exit_code, 0u);
    ASSERT_TRUE(DeleteFileA(setup.c_str()));
    expect_course_started(w);
    wait_for_launcher_to_end();
    const std::string outside = w.root + "\\notes", link = w.install + "\\notes";
    CreateDirectoryA(outside.c_str(), NULL);
    FILE *note = fopen((outside + "\\mine.txt").c_str(), "wb");
    ASSERT_NE(note, nullptr);
    fclose(note);
    run_on_host("/bin/ln", outside, link);
    ASSERT_NE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    const std::string lesson = w.install + "\\lessons\\lesson-1.html";
    SetFileAttributesA(lesson.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string key = entry_key(w);
    ASSERT_NE(key, "");

    program_run first = uninstaller("--remove " + key);
    EXPECT_EQ(first.output, text_mode("Removed the shortcut " + w.desktop + "\\E2E Course.lnk.\nCould not remove " +
                                      link +
                                      ".\nThe course is not fully removed: close what uses these files, then remove "
                                      "it again.\n"));
    EXPECT_TRUE(file_exists(outside + "\\mine.txt"));
    EXPECT_FALSE(file_exists(w.desktop + "\\E2E Course.lnk"));
    EXPECT_FALSE(file_exists(lesson));
    EXPECT_TRUE(file_exists(w.install + "\\setup.exe")) << "put back, for the entry's command to run again";
    EXPECT_EQ(entry_key(w), key);

    run_on_host("/bin/rm", link);
    program_run second = uninstaller("--remove " + key);
    EXPECT_EQ(second.output, text_mode("Removed the folder " + w.install +
                                       ".\nRemoved E2E Course from the installed apps.\n"));
    EXPECT_FALSE(file_exists(w.install));
    EXPECT_TRUE(file_exists(outside + "\\mine.txt"));
    EXPECT_EQ(entry_key(w), "");
    EXPECT_EQ(uninstaller("--list").output.find(key), std::string::npos);
    char temporary[MAX_PATH];
    GetTempPathA(sizeof temporary, temporary);
    EXPECT_TRUE(file_exists(temporary + key + ".exe")) << "the copy that did the work stays behind";
}

// The learner's local application data folder has moved since the
// installation (a profile restored elsewhere): the entry's command removes
// the folder the entry names, where its setup.exe is.
TEST(AppsList, UninstallRemovesTheFolderItsEntryNames)
{
    world w = make_world("uninstall-moved");
    const std::string key = install_and_leave(w);
    ASSERT_NE(key, "");
    const std::string moved = w.root + "\\moved";
    CreateDirectoryA(moved.c_str(), NULL);
    SetEnvironmentVariableA("LOCALAPPDATA", moved.c_str());
    program_run run = uninstaller("--remove " + key);
    EXPECT_EQ(run.output, text_mode("Removed the shortcut " + w.desktop + "\\E2E Course.lnk.\nRemoved the folder " +
                                    w.install + ".\nRemoved E2E Course from the installed apps.\n"));
    EXPECT_FALSE(file_exists(w.install));
    EXPECT_EQ(entry_key(w), "");
}

TEST(AppsList, UninstallWithNothingInstalledSaysSo)
{
    world w = make_world("uninstall-nothing");
    program_run run;
    ASSERT_EQ(run_captured("\"" + in_downloads("e2e-setup.exe") + "\" --uninstall", &run), 0);
    EXPECT_EQ(run.output, text_mode("Nothing to remove: E2E Course is not installed in " + w.install + ".\n"));
    EXPECT_EQ(run.exit_code, 1u);
}

// The copy in the temporary folder cannot be made: its old copy is held
// open (by an uninstall that has not ended, say), then the temporary folder
// is missing. Each time everything stays, for another try.
TEST(AppsList, UninstallThatCannotHandOverRemovesNothing)
{
    world w = make_world("uninstall-no-hand-over");
    const std::string key = install_and_leave(w);
    ASSERT_NE(key, "");
    const std::string uninstall = "\"" + w.install + "\\setup.exe\" --uninstall";
    char temporary[MAX_PATH];
    GetTempPathA(sizeof temporary, temporary);
    const std::string old_copy = temporary + key + ".exe";
    ASSERT_TRUE(write_file(old_copy, "an uninstall still at work"));
    HANDLE held = CreateFileA(old_copy.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    program_run run;
    ASSERT_EQ(run_captured(uninstall, &run), 0);
    CloseHandle(held);
    EXPECT_EQ(run.output, text_mode("Could not copy this setup to " + old_copy + ": nothing was removed.\n"));
    EXPECT_EQ(run.exit_code, 1u);

    const std::string missing = w.root + "\\no-temporary-folder";
    char tmp[MAX_PATH];
    const DWORD tmp_set = GetEnvironmentVariableA("TMP", tmp, sizeof tmp);
    SetEnvironmentVariableA("TMP", missing.c_str());
    ASSERT_EQ(run_captured(uninstall, &run), 0);
    SetEnvironmentVariableA("TMP", tmp_set ? tmp : NULL);
    EXPECT_EQ(run.output, text_mode("Could not copy this setup to " + missing + "\\" + key +
                                    ".exe: nothing was removed.\n"));
    EXPECT_EQ(run.exit_code, 1u);
    expect_installed_files(w.install);
    EXPECT_TRUE(file_exists(w.install + "\\setup.exe"));
    EXPECT_EQ(entry_key(w), key);
    expect_shortcut(w);
}

}  // namespace
