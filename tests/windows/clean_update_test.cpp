// What an update removes, decided in-process on folders of the test's own:
// the names an archive brings, the record kept of them, and the removal of
// what the new archives no longer bring. Runs in the UTF-8 code page the
// installer declares.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "install_record.h"
#include "path_set.h"
#include "stale_files.h"
#include "test_support.h"
#include "zip_entries.h"

namespace {

const unsigned UTF8_NAMES = 0x0800;

std::string little_endian(uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; i++)
        text += (char)(value >> 8 * i & 0xFF);
    return text;
}

// A zip of empty stored entries, laid out as APPNOTE.TXT says.
std::string write_zip(const std::string &name, const std::vector<std::string> &entries, unsigned flags = UTF8_NAMES)
{
    std::string local, central;
    for (const std::string &entry : entries) {
        const std::string common = little_endian(20, 2) + little_endian(flags, 2) + std::string(18, '\0') +
                                   little_endian((uint32_t)entry.size(), 2) + little_endian(0, 2);
        central += little_endian(0x02014b50, 4) + little_endian(20, 2) + common + std::string(10, '\0') +
                   little_endian((uint32_t)local.size(), 4) + entry;
        local += little_endian(0x04034b50, 4) + common + entry;
    }
    const std::string count = little_endian((uint32_t)entries.size(), 2);
    const std::string end = little_endian(0x06054b50, 4) + std::string(4, '\0') + count + count +
                            little_endian((uint32_t)central.size(), 4) + little_endian((uint32_t)local.size(), 4) +
                            little_endian(0, 2);
    write_file(name, local + central + end);
    return name;
}

std::vector<std::wstring> paths_of(const path_set &set)
{
    std::vector<std::wstring> paths;
    for (size_t i = 0; i < set.count; i++)
        paths.push_back(set.text + set.starts[i]);
    return paths;
}

std::string fresh_folder(const char *name)
{
    const std::string folder = current_folder() + "\\clean-update\\" + name;
    CreateDirectoryA("clean-update", NULL);
    remove_tree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

TEST(ZipEntries, NamesAsWindowsWritesThemUnderTheirFolder)
{
    const std::string folder = fresh_folder("names");
    path_set set = {};
    const std::string course = write_zip(folder + "\\course.zip", {"server.py", "lessons/", "lessons/one.html",
                                                                   "caf\xc3\xa9.txt"});
    ASSERT_EQ(add_zip_entries(&set, course.c_str(), L""), 0);
    ASSERT_EQ(add_zip_entries(&set, course.c_str(), L""), 0);
    // Not flagged UTF-8: the IBM PC's character set, where 0x82 is é.
    ASSERT_EQ(add_zip_entries(&set, write_zip(folder + "\\runtime.zip", {"\x82t\x82.txt"}, 0).c_str(), L"python\\"),
              0);
    sort_path_set(&set);
    EXPECT_EQ(paths_of(set), (std::vector<std::wstring>{L"caf\u00e9.txt", L"lessons\\", L"lessons\\one.html",
                                                       L"python\\\u00e9t\u00e9.txt", L"server.py"}));
    EXPECT_TRUE(path_in_set(&set, L"LESSONS\\One.html"));
    EXPECT_FALSE(path_in_set(&set, L"lessons"));
    free_path_set(&set);
}

TEST(ZipEntries, RefusesAnArchiveThatCouldReachOutside)
{
    const std::string folder = fresh_folder("refused");
    for (const char *name : {"../up.txt", "a/../../up.txt", "/root.txt", "\\root.txt", "C:drive.txt", "a//b.txt",
                             "./here.txt", "dots./x.txt", "blank /x.txt", "file.txt:stream", ""}) {
        path_set set = {};
        EXPECT_EQ(add_zip_entries(&set, write_zip(folder + "\\bad.zip", {"fine.txt", name}).c_str(), L""), 1) << name;
        free_path_set(&set);
    }
    const std::string good = write_zip(folder + "\\good.zip", {"fine.txt", "a.b/c d.txt"});
    path_set set = {};
    EXPECT_EQ(add_zip_entries(&set, good.c_str(), L""), 0);
    free_path_set(&set);
    const std::string whole = read_file(good);
    write_file(folder + "\\cut.zip", whole.substr(0, whole.size() - 1));
    write_file(folder + "\\text.zip", "not an archive at all, though long enough to hold an end record");
    for (const char *name : {"\\cut.zip", "\\text.zip", "\\missing.zip"}) {
        EXPECT_EQ(add_zip_entries(&set, (folder + name).c_str(), L""), 1) << name;
        free_path_set(&set);
    }
}

TEST(InstallRecord, KeptWholeOrNotUsedAtAll)
{
    const std::string folder = fresh_folder("record");
    const std::string record = folder + "\\installed-files.txt";
    path_set written = {};
    for (const wchar_t *path : {L"server.py", L"lessons\\", L"caf\u00e9.txt", L"lessons\\one.html"})
        ASSERT_EQ(add_path(&written, L"", path, wcslen(path)), 0);
    sort_path_set(&written);
    ASSERT_EQ(write_install_record(record.c_str(), &written), 0);
    EXPECT_EQ(read_file(record), "caf\xc3\xa9.txt\r\nlessons\\\r\nlessons\\one.html\r\nserver.py\r\n");
    path_set read = {};
    EXPECT_EQ(read_install_record(record.c_str(), &read), 0);
    EXPECT_EQ(paths_of(read), paths_of(written));
    free_path_set(&read);
    free_path_set(&written);

    for (const char *text : {"server.py\r\n..\\outside.txt\r\n", "server.py\r\nlessons\\one.html",
                             "server.py\r\n\r\n", "caf\xe9.txt\r\n"}) {
        write_file(record, text);
        path_set untrusted = {};
        EXPECT_EQ(read_install_record(record.c_str(), &untrusted), 1) << text;
        free_path_set(&untrusted);
    }
    path_set none = {};
    EXPECT_EQ(read_install_record((folder + "\\missing.txt").c_str(), &none), 1);
}

// Wine shows a Unix symbolic link as a folder that is a reparse point, and
// makes none itself: ln makes it, run as Wine runs a Unix program, in the
// Unix folder of the current one.
void link_folder(const char *target, const char *link)
{
    typedef LONG(__cdecl * unix_spawn_function)(char *const argv[], int wait);
    unix_spawn_function spawn =
        (unix_spawn_function)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp");
    ASSERT_NE(spawn, nullptr);
    char *const argv[] = {(char *)"/bin/ln", (char *)"-sfn", (char *)target, (char *)link, NULL};
    ASSERT_EQ(spawn(argv, 1), 0);
}

TEST(StaleFiles, RemovesOnlyWhatTheNewArchivesNoLongerBring)
{
    const std::string install = fresh_folder("install");
    const std::string outside = fresh_folder("outside");
    for (const char *folder : {"lessons", "retired", "retired\\deeper", "unit-0", "python", "emptied"})
        CreateDirectoryA((install + "\\" + folder).c_str(), NULL);
    const std::vector<std::string> files = {"server.py",          "lessons\\one.html", "lessons\\old.html",
                                            "lessons\\notes.txt", "retired\\deeper\\intro.html",
                                            "unit-0\\old.html",   "unit-0\\answers.txt", "python\\python.exe",
                                            "python\\python311._pth", "emptied\\gone.txt"};
    for (const std::string &file : files)
        write_file(install + "\\" + file, "x");
    write_file(outside + "\\victim.html", "x");
    link_folder("../outside", "clean-update/install/linked");
    ASSERT_NE(GetFileAttributesA((install + "\\linked").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

    path_set previous = {}, current = {};
    for (const wchar_t *path : {L"server.py", L"LESSONS\\ONE.HTML", L"lessons\\old.html", L"retired\\",
                                L"retired\\deeper\\intro.html", L"unit-0\\old.html", L"python\\python.exe",
                                L"python\\python311._pth", L"emptied\\gone.txt", L"linked\\victim.html",
                                L"never-there.txt"})
        ASSERT_EQ(add_path(&previous, L"", path, wcslen(path)), 0);
    for (const wchar_t *path : {L"server.py", L"lessons\\one.html", L"python\\python.exe", L"emptied\\"})
        ASSERT_EQ(add_path(&current, L"", path, wcslen(path)), 0);
    sort_path_set(&current);
    remove_stale_files(install.c_str(), &previous, &current);
    free_path_set(&previous);
    free_path_set(&current);

    for (const char *gone : {"lessons\\old.html", "retired", "unit-0\\old.html", "python\\python311._pth",
                             "emptied\\gone.txt"})
        EXPECT_FALSE(file_exists(install + "\\" + gone)) << gone;
    for (const char *kept : {"server.py", "lessons\\one.html", "lessons\\notes.txt", "unit-0\\answers.txt",
                             "python\\python.exe", "emptied", "linked"})
        EXPECT_TRUE(file_exists(install + "\\" + kept)) << kept;
    EXPECT_TRUE(file_exists(outside + "\\victim.html")) << "removed through a symbolic link";
}

}  // namespace
