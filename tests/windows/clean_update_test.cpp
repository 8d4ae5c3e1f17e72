// What an update removes, decided in-process on folders of the test's own:
// the names an archive brings, the record kept of them, and the removal of
// what the new archives no longer bring. Runs in the UTF-8 code page the
// installer declares.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "update/clean_update.h"
#include "update/install_record.h"
#include "update/staged_update.h"
#include "update/stale_files.h"
#include "zip/file_check.h"
#include "zip/path_set.h"
#include "zip/unpacked_check.h"
#include "zip/zip_entries.h"
#include "zip/zip_unpack.h"

namespace {

const unsigned UTF8_NAMES = 0x0800;

std::string little_endian(uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; i++)
        text += (char)(value >> 8 * i & 0xFF);
    return text;
}

// An entry's bytes as the archive holds them and their CRC-32, as its
// headers give it: stored, or deflated from unpacked_size bytes; and the
// comment its central header carries.
struct stored {
    std::string bytes;
    uint32_t crc;
    uint32_t unpacked_size = 0;
    std::string comment = "";
};

// A zip of stored entries, empty but for those given, laid out as
// APPNOTE.TXT says.
std::string write_zip(const std::string &name, const std::vector<std::string> &entries, unsigned flags = UTF8_NAMES,
                      const std::vector<stored> &contents = {})
{
    std::string local, central;
    for (size_t i = 0; i < entries.size(); i++) {
        const std::string &entry = entries[i];
        const stored content = i < contents.size() ? contents[i] : stored{"", 0};
        const uint32_t packed = (uint32_t)content.bytes.size();
        const std::string common = little_endian(20, 2) + little_endian(flags, 2) +
                                   little_endian(content.unpacked_size ? 8 : 0, 2) + std::string(4, '\0') +
                                   little_endian(content.crc, 4) + little_endian(packed, 4) +
                                   little_endian(content.unpacked_size ? content.unpacked_size : packed, 4) +
                                   little_endian((uint32_t)entry.size(), 2) + little_endian(0, 2);
        central += little_endian(0x02014b50, 4) + little_endian(20, 2) + common +
                   little_endian((uint32_t)content.comment.size(), 2) + std::string(8, '\0') +
                   little_endian((uint32_t)local.size(), 4) + entry + content.comment;
        local += little_endian(0x04034b50, 4) + common + entry + content.bytes;
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

// The test's folders are ASCII, byte for byte the same in UTF-16.
std::wstring wide(const std::string &path)
{
    return std::wstring(path.begin(), path.end());
}

// Makes each folder given that is not there yet, in the \\?\ form the narrow
// calls cannot reach past 260 units (and so leave from an earlier run).
bool make_long_folders(const std::vector<std::wstring> &folders)
{
    for (const std::wstring &folder : folders)
        if (!CreateDirectoryW(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    return true;
}

void write_long_file(const std::wstring &path, const char *bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, bytes, (DWORD)strlen(bytes), &written, NULL);
    CloseHandle(file);
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
    ASSERT_EQ(add_zip_entries(&set, write_zip(folder + "\\runtime.zip", {"ete.txt"}, 0).c_str(), L"python\\"), 0);
    sort_path_set(&set);
    EXPECT_EQ(paths_of(set), (std::vector<std::wstring>{L"caf\u00e9.txt", L"lessons\\", L"lessons\\one.html",
                                                       L"python\\ete.txt", L"server.py"}));
    EXPECT_TRUE(path_in_set(&set, L"LESSONS\\One.html"));
    EXPECT_FALSE(path_in_set(&set, L"lessons"));
    free_path_set(&set);
}

// The check value every CRC-32 of ISO 3309 gives "123456789".
const uint32_t CHECK_VALUE = 0xCBF43926;

TEST(ZipEntries, FilesComeWithWhatTheyHoldAndFoldersWithNothing)
{
    const std::string folder = fresh_folder("checks");
    path_set set = {};
    const std::string zip = write_zip(folder + "\\checks.zip", {"lessons/", "lessons/one.html"}, UTF8_NAMES,
                                      {{"", 0}, {"123456789", CHECK_VALUE}});
    ASSERT_EQ(add_zip_entries(&set, zip.c_str(), L""), 0);
    sort_path_set(&set);
    ASSERT_EQ(set.count, 2u);
    EXPECT_FALSE(set.checks[0].known);
    EXPECT_TRUE(set.checks[1].known);
    EXPECT_EQ(set.checks[1].file.size, 9u);
    EXPECT_EQ(set.checks[1].file.crc, CHECK_VALUE);
    // The file the archive writes reads back the same.
    ASSERT_TRUE(write_file(folder + "\\one.html", "123456789"));
    file_check on_disk = {};
    ASSERT_EQ(check_file(wide(folder + "\\one.html").c_str(), &on_disk), 0);
    EXPECT_EQ(on_disk.size, 9u);
    EXPECT_EQ(on_disk.crc, CHECK_VALUE);
    EXPECT_EQ(crc32_update(crc32_update(0, "1234", 4), "56789", 5), CHECK_VALUE);
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

TEST(InstallRecord, KeptWholeWithWhatEachFileHeldOrNotUsedAtAll)
{
    const std::string folder = fresh_folder("record");
    const std::string record = folder + "\\installed-files.txt";
    path_set written = {};
    const file_check held[] = {{120, 0x0badf00d}, {0, 0}, {UINT64_MAX, 0xffffffff}};
    ASSERT_EQ(add_path(&written, L"", L"server.py", 9, &held[0]), 0);
    ASSERT_EQ(add_path(&written, L"", L"lessons\\", 8, NULL), 0);
    ASSERT_EQ(add_path(&written, L"", L"caf\u00e9.txt", 8, &held[1]), 0);
    ASSERT_EQ(add_path(&written, L"", L"lessons\\one.html", 16, &held[2]), 0);
    sort_path_set(&written);
    ASSERT_EQ(write_install_record(record.c_str(), &written), 0);
    EXPECT_EQ(read_file(record), "caf\xc3\xa9.txt\t0\t00000000\r\nlessons\\\r\n"
                                 "lessons\\one.html\t18446744073709551615\tffffffff\r\nserver.py\t120\t0badf00d\r\n");
    path_set read = {};
    EXPECT_EQ(read_install_record(record.c_str(), &read), 0);
    EXPECT_EQ(paths_of(read), paths_of(written));
    for (size_t i = 0; i < read.count; i++) {
        EXPECT_EQ(read.checks[i].known, written.checks[i].known) << i;
        EXPECT_EQ(read.checks[i].file.size, written.checks[i].file.size) << i;
        EXPECT_EQ(read.checks[i].file.crc, written.checks[i].file.crc) << i;
    }
    free_path_set(&read);
    free_path_set(&written);

    // A record from before checks were kept is read, saying nothing of them.
    write_file(record, "server.py\r\nlessons\\one.html\r\n");
    path_set older = {};
    EXPECT_EQ(read_install_record(record.c_str(), &older), 0);
    EXPECT_EQ(older.count, 2u);
    EXPECT_FALSE(older.checks[0].known || older.checks[1].known);
    free_path_set(&older);

    for (const char *text : {"server.py\r\n..\\outside.txt\r\n", "server.py\r\nlessons\\one.html",
                             "server.py\r\n\r\n", "caf\xe9.txt\r\n", "server.py\t12\t0badf00\r\n",
                             "server.py\t12\t0BADF00D\r\n", "server.py\t-12\t0badf00d\r\n", "server.py\t\t0badf00d\r\n",
                             "server.py\t18446744073709551616\t0badf00d\r\n", "server.py\t12\t0badf00d\t\r\n"}) {
        write_file(record, text);
        path_set untrusted = {};
        EXPECT_EQ(read_install_record(record.c_str(), &untrusted), 1) << text;
        free_path_set(&untrusted);
    }
    path_set none = {};
    EXPECT_EQ(read_install_record((folder + "\\missing.txt").c_str(), &none), 1);
}

TEST(StaleFiles, RemovesOnlyWhatTheNewArchivesNoLongerBring)
{
    const std::string install = fresh_folder("install");
    const std::string outside = fresh_folder("outside");
    for (const char *folder : {"lessons", "retired", "retired\\deeper", "unit-0", "python", "emptied"})
        CreateDirectoryA((install + "\\" + folder).c_str(), NULL);
    const std::vector<std::string> files = {
        "server.py",           "lessons\\one.html",    "lessons\\old.html",          "lessons\\notes.txt",
        "lessons\\saved.html", "lessons\\held.html",   "lessons\\written.html",      "retired\\deeper\\intro.html",
        "unit-0\\old.html",    "unit-0\\answers.txt",  "unit-0\\unknown.html",       "python\\python.exe",
        "python\\python311._pth", "emptied\\gone.txt"};
    for (const std::string &file : files)
        write_file(install + "\\" + file, "123456789");
    // The course saved the learner's progress into a lesson it then dropped.
    write_file(install + "\\lessons\\saved.html", "123456789 <p>Done</p>");
    write_file(outside + "\\victim.html", "123456789");
    ASSERT_TRUE(link_folder("../outside", "clean-update/install/linked"));
    ASSERT_NE(GetFileAttributesA((install + "\\linked").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

    const file_check as_brought = {9, CHECK_VALUE};
    path_set previous = {}, current = {}, kept = {};
    for (const wchar_t *path : {L"server.py", L"LESSONS\\ONE.HTML", L"lessons\\old.html", L"lessons\\saved.html",
                                L"lessons\\held.html", L"lessons\\written.html", L"retired\\",
                                L"retired\\deeper\\intro.html",
                                L"unit-0\\old.html", L"python\\python.exe", L"python\\python311._pth",
                                L"emptied\\gone.txt", L"linked\\victim.html", L"never-there.txt"})
        ASSERT_EQ(add_path(&previous, L"", path, wcslen(path), wcschr(path, L'.') ? &as_brought : NULL), 0);
    // Deeper than the 260 units the narrow calls reach.
    const std::wstring deep = L"retired-package\\" + std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e');
    const std::wstring long_install = L"\\\\?\\" + wide(install);
    ASSERT_TRUE(make_long_folders({long_install + L"\\retired-package",
                                   long_install + L"\\" + deep.substr(0, deep.rfind(L'\\')),
                                   long_install + L"\\" + deep}));
    write_long_file(long_install + L"\\" + deep + L"\\module.py", "123456789");
    const std::wstring deep_file_name = deep + L"\\module.py";
    ASSERT_EQ(add_path(&previous, L"", deep_file_name.c_str(), deep_file_name.size(), &as_brought), 0);
    // Recorded before checks were kept: what it held is not known.
    ASSERT_EQ(add_path(&previous, L"", L"unit-0\\unknown.html", 19, NULL), 0);
    for (const wchar_t *path : {L"server.py", L"lessons\\one.html", L"python\\python.exe", L"emptied\\"})
        ASSERT_EQ(add_path(&current, L"", path, wcslen(path), NULL), 0);
    sort_path_set(&current);
    // Held open, as by a virus scanner, it cannot be removed now.
    HANDLE held = CreateFileA((install + "\\lessons\\held.html").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Held as Node and Java hold a file they write: it can be deleted, but
    // not read, so whether it is still as brought cannot be told.
    HANDLE written = CreateFileA((install + "\\lessons\\written.html").c_str(), GENERIC_WRITE,
                                 FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(written, INVALID_HANDLE_VALUE);
    file_check unread;
    ASSERT_NE(check_file(wide(install + "\\lessons\\written.html").c_str(), &unread), 0);
    EXPECT_EQ(remove_stale_files(install.c_str(), &previous, &current, &kept), 0);
    CloseHandle(held);
    CloseHandle(written);
    EXPECT_EQ(paths_of(kept), (std::vector<std::wstring>{L"lessons\\held.html", L"lessons\\written.html"}));
    ASSERT_EQ(kept.count, 2u);
    for (size_t i = 0; i < kept.count; i++)
        EXPECT_TRUE(kept.checks[i].known && kept.checks[i].file.size == 9 && kept.checks[i].file.crc == CHECK_VALUE);
    free_path_set(&previous);
    free_path_set(&current);
    free_path_set(&kept);

    for (const char *gone : {"lessons\\old.html", "retired", "unit-0\\old.html", "python\\python311._pth",
                             "emptied\\gone.txt", "retired-package"})
        EXPECT_FALSE(file_exists(install + "\\" + gone)) << gone;
    for (const char *stays : {"server.py", "lessons\\one.html", "lessons\\notes.txt", "lessons\\saved.html",
                              "lessons\\held.html", "lessons\\written.html", "unit-0\\answers.txt",
                              "unit-0\\unknown.html", "python\\python.exe", "emptied", "linked"})
        EXPECT_TRUE(file_exists(install + "\\" + stays)) << stays;
    EXPECT_TRUE(file_exists(outside + "\\victim.html")) << "removed through a symbolic link";
}

// A whole update over the offline course's folders: its runtime and three
// parts, as the installer leaves them in dl\ once unpacked.
struct Update : ::testing::Test {
    std::string install, download, runtime_folder, runtime_archive, record;
    void SetUp() override
    {
        install = fresh_folder("update");
        download = install + "\\dl";
        runtime_folder = install + "\\python";
        runtime_archive = download + "\\python.zip";
        record = download + "\\installed-files.txt";
        CreateDirectoryA(download.c_str(), NULL);
        CreateDirectoryA(runtime_folder.c_str(), NULL);
        write_zip(runtime_archive, {"python.exe", "python312._pth"}, UTF8_NAMES,
                  {{"123456789", CHECK_VALUE}, {"123456789", CHECK_VALUE}});
        for (const char *part : {"offline-a.zip", "offline-b.zip", "offline-c.zip"})
            write_zip(download + "\\" + part, {std::string(part) + ".html"});
        for (const char *file : {"python\\python.exe", "python\\python312._pth", "old-lesson.html"})
            write_file(install + "\\" + file, "123456789");
    }
    void update() { clean_update(install.c_str(), download.c_str(), runtime_archive.c_str(), runtime_folder.c_str()); }
};

// The update staged as the installer stages it, then put in place: its
// files moved in, a folder an archive brings empty made too, and a lesson
// the learner changed since the record kept, with the update's copy beside.
TEST_F(Update, AStagedUpdateMovesItsFilesInAndKeepsTheLearnersOwn)
{
    write_zip(download + "\\offline-b.zip", {"uploads/", "lessons/ex1.py"}, UTF8_NAMES,
              {{"", 0}, {"123456789", CHECK_VALUE}});
    CreateDirectoryA((install + "\\lessons").c_str(), NULL);
    write_file(install + "\\lessons\\ex1.py", "the learner's solution");
    write_file(record, "lessons\\ex1.py\t9\tcbf43926\r\nold-lesson.html\t9\tcbf43926\r\n");
    const std::string staging = install + "\\update-staging";
    CreateDirectoryA(staging.c_str(), NULL);
    CreateDirectoryA((staging + "\\python").c_str(), NULL);
    ASSERT_EQ(unpack_zip(runtime_archive.c_str(), (staging + "\\python").c_str()), 0);
    for (const char *part : {"offline-a.zip", "offline-b.zip", "offline-c.zip"})
        ASSERT_EQ(unpack_zip((download + "\\" + part).c_str(), staging.c_str()), 0) << part;
    testing::internal::CaptureStdout();
    EXPECT_EQ(put_staged_update(install.c_str(), download.c_str(), runtime_archive.c_str(), runtime_folder.c_str()),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Kept your own lessons\\ex1.py; this update's version of it is lessons\\ex1.new.py.\n");
    EXPECT_EQ(read_file(install + "\\lessons\\ex1.py"), "the learner's solution");
    EXPECT_EQ(read_file(install + "\\lessons\\ex1.new.py"), "123456789");
    const DWORD uploads = GetFileAttributesA((install + "\\uploads").c_str());
    EXPECT_TRUE(uploads != INVALID_FILE_ATTRIBUTES && (uploads & FILE_ATTRIBUTE_DIRECTORY))
        << "a folder the archive brings empty";
    EXPECT_EQ(read_file(install + "\\offline-c.zip.html"), "");
    for (const char *left : {"update-staging", "update-set-aside", "update-journal.txt"})
        EXPECT_FALSE(file_exists(install + "\\" + left)) << left;
    // The record moved in names what the one before brought and this
    // update does not, for the removal that follows.
    EXPECT_NE(read_file(record).find("old-lesson.html\t9\tcbf43926\r\n"), std::string::npos) << read_file(record);
    update();
    EXPECT_FALSE(file_exists(install + "\\old-lesson.html"));
}

TEST_F(Update, ARecordThatCannotBeReadIsKeptAndNothingIsRemoved)
{
    const std::string unreadable = "old-lesson.html\t9\tcbf43926\r\nlessons\\cut-short";
    write_file(record, unreadable);
    update();
    EXPECT_EQ(read_file(record), unreadable);
    EXPECT_TRUE(file_exists(install + "\\old-lesson.html"));
    write_file(record, "old-lesson.html\t9\tcbf43926\r\n");
    update();
    EXPECT_FALSE(file_exists(install + "\\old-lesson.html"));
    EXPECT_EQ(read_file(record).find("old-lesson.html"), std::string::npos);
}

TEST_F(Update, TheRuntimesPathFileIsRecordedAsTheSetupLeftIt)
{
    write_file(install + "\\python\\python312._pth", "python312.zip\r\n.\r\n..\r\n");
    update();
    // Its size as left, 22 bytes, not the archive's 9.
    EXPECT_NE(read_file(record).find("python\\python312._pth\t22\t"), std::string::npos) << read_file(record);
    EXPECT_NE(read_file(record).find("python\\python.exe\t9\tcbf43926\r\n"), std::string::npos);
}

// What Expand-Archive left, held to the archive's central directory, whose
// first entry carries a comment as zip tools may write one.
TEST(UnpackedCheck, EveryEntryMustBeThereAsTheArchiveSays)
{
    const std::string folder = fresh_folder("unpacked");
    const std::string out = folder + "\\out";
    // Deeper than the 260 units the narrow calls reach.
    const std::string upper = std::string(120, 'd'), deep = upper + "\\" + std::string(120, 'e');
    const std::string archive = write_zip(folder + "\\course.zip",
                                          {"lessons/", "lessons/one.html", upper + "/" + std::string(120, 'e') + "/f.txt"},
                                          UTF8_NAMES, {{"", 0, 0, "the lessons"}, {"123456789", CHECK_VALUE},
                                                       {"123456789", CHECK_VALUE}});
    std::wstring long_out = L"\\\\?\\" + wide(out);
    ASSERT_TRUE(make_long_folders(
        {long_out, long_out + L"\\lessons", long_out + L"\\" + wide(upper), long_out + L"\\" + wide(deep)}));
    auto put = [&](const std::string &name, const char *bytes) {
        write_long_file(long_out + L"\\" + wide(name), bytes);
    };
    put("lessons\\one.html", "123456789");
    put(deep + "\\f.txt", "123456789");
    EXPECT_EQ(check_unpacked(archive.c_str(), out.c_str()), 0);
    put("lessons\\one.html", "12345678X");
    EXPECT_EQ(check_unpacked(archive.c_str(), out.c_str()), 1) << "a file changed";
    put("lessons\\one.html", "1234567890");
    EXPECT_EQ(check_unpacked(archive.c_str(), out.c_str()), 1) << "a file of another size";
    put("lessons\\one.html", "123456789");
    DeleteFileW((long_out + L"\\" + wide(deep) + L"\\f.txt").c_str());
    EXPECT_EQ(check_unpacked(archive.c_str(), out.c_str()), 1) << "a file missing";
    EXPECT_EQ(check_unpacked((folder + "\\missing.zip").c_str(), out.c_str()), 1) << "no archive";
}

// The setup's own unpacking, where PowerShell cannot: stored and deflated
// entries, the first with a comment, come out whole and dated as their
// entries say; a damaged entry, or one that would be written through a link,
// fails it.
TEST(ZipUnpack, UnpacksAsExpandArchiveWouldAndNeverThroughALink)
{
    const std::string folder = fresh_folder("unpack-itself");
    const std::string out = folder + "\\out";
    // zlib's raw deflate of "abcabcabcabcabcabcabcabc!".
    const stored deflated = {std::string("\x4b\x4c\x4a\x4e\xc4\x86\x14\x01", 8), 0x26d77ad3, 25};
    const std::string archive = write_zip(folder + "\\course.zip", {"lessons/", "lessons/one.html", "abc.txt"},
                                          UTF8_NAMES,
                                          {{"", 0, 0, "the lessons"}, {"123456789", CHECK_VALUE}, deflated});
    ASSERT_EQ(unpack_zip(archive.c_str(), out.c_str()), 0);
    EXPECT_EQ(read_file(out + "\\lessons\\one.html"), "123456789");
    EXPECT_EQ(read_file(out + "\\abc.txt"), "abcabcabcabcabcabcabcabc!");
    EXPECT_EQ(check_unpacked(archive.c_str(), out.c_str()), 0);
    // A date of zero is no date: .NET's ZipArchive, and so the setup, give
    // such an entry 1980-01-01, in local time.
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    SYSTEMTIME local;
    FILETIME local_time;
    ASSERT_TRUE(GetFileAttributesExA((out + "\\abc.txt").c_str(), GetFileExInfoStandard, &attributes));
    ASSERT_TRUE(FileTimeToLocalFileTime(&attributes.ftLastWriteTime, &local_time));
    ASSERT_TRUE(FileTimeToSystemTime(&local_time, &local));
    EXPECT_EQ(local.wYear, 1980);

    const std::string damaged = write_zip(folder + "\\damaged.zip", {"abc.txt"}, UTF8_NAMES,
                                          {{deflated.bytes, deflated.crc ^ 1, 25}});
    EXPECT_EQ(unpack_zip(damaged.c_str(), (folder + "\\damaged").c_str()), 1) << "a CRC that does not match";
    const std::string outside = fresh_folder("unpack-outside");
    ASSERT_TRUE(link_folder("../unpack-outside", "clean-update/unpack-itself/out/linked"));
    const std::string through = write_zip(folder + "\\through.zip", {"linked/victim.html"}, UTF8_NAMES,
                                          {{"123456789", CHECK_VALUE}});
    EXPECT_EQ(unpack_zip(through.c_str(), out.c_str()), 1);
    EXPECT_FALSE(file_exists(outside + "\\victim.html")) << "written through a symbolic link";
}

}  // namespace
