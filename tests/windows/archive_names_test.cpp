// What the setup reads of an archive before unpacking it, decided in-process
// on central directories of the test's own: every Zip64 record or mark
// refused, and the names Windows cannot hold refused by name. Runs in the
// UTF-8 code page the installer declares.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "zip/archive_names.h"
#include "zip/path_set.h"
#include "zip/zip_entries.h"

namespace {

const uint32_t MARK_32 = 0xFFFFFFFF;
const uint16_t MARK_16 = 0xFFFF;
const size_t END_RECORD_SIZE = 22;

void put(std::string &out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out += (char)(value >> 8 * i & 0xFF);
}

// One central header as a case sets it: a stored entry, its name flagged
// UTF-8, and the fields Zip64 can take over.
struct header {
    std::string name;
    uint32_t packed = 0, size = 0, place = 0;
    uint16_t disk = 0;
};

// A zip of its central directory and end record alone (APPNOTE.TXT 4.3.12,
// 4.3.16): what is read before unpacking, no entry's data.
std::string directory_of(const std::vector<header> &headers)
{
    std::string directory;
    for (const header &entry : headers) {
        put(directory, 0x02014b50, 4);
        put(directory, 20, 2);
        put(directory, 20, 2);
        put(directory, 0x0800, 2);
        put(directory, 0, 2 + 2 + 2 + 4);
        put(directory, entry.packed, 4);
        put(directory, entry.size, 4);
        put(directory, entry.name.size(), 2);
        put(directory, 0, 2 + 2);
        put(directory, entry.disk, 2);
        put(directory, 0, 2 + 4);
        put(directory, entry.place, 4);
        directory += entry.name;
    }
    std::string end;
    put(end, 0x06054b50, 4);
    put(end, 0, 2 + 2);
    put(end, headers.size(), 2);
    put(end, headers.size(), 2);
    put(end, directory.size(), 4);
    put(end, 0, 4);
    put(end, 0, 2);
    return directory + end;
}

std::vector<header> named(const std::vector<std::string> &names)
{
    std::vector<header> headers;
    for (const std::string &name : names)
        headers.push_back({name});
    return headers;
}

// The archive with a field of its end record (at, from the record's start)
// set to value.
std::string with_end_field(std::string archive, size_t at, uint32_t value, int bytes)
{
    std::string field;
    put(field, value, bytes);
    return archive.replace(archive.size() - END_RECORD_SIZE + at, bytes, field);
}

// The archive as Python's zipfile writes one whose central directory starts
// past 2 GiB: the end record keeps the true count, size and place, and a
// Zip64 end record and its locator (APPNOTE.TXT 4.3.14, 4.3.15) stand
// between them and the directory.
std::string with_zip64_records(std::string archive, uint64_t count)
{
    const uint64_t directory_size = archive.size() - END_RECORD_SIZE;
    std::string records;
    put(records, 0x06064b50, 4);
    put(records, 44, 8);
    put(records, 45, 2);
    put(records, 45, 2);
    put(records, 0, 4 + 4);
    put(records, count, 8);
    put(records, count, 8);
    put(records, directory_size, 8);
    put(records, 0, 8);
    put(records, 0x07064b50, 4);
    put(records, 0, 4);
    put(records, directory_size, 8);
    put(records, 1, 4);
    return archive.insert(directory_size, records);
}

std::string archive_file(const std::string &name, const std::string &bytes)
{
    CreateDirectoryA("archive-names", NULL);
    const std::string path = current_folder() + "\\archive-names\\" + name;
    write_file(path, bytes);
    return path;
}

// Whether the setup reads the archive through, as the check of what was
// unpacked and its own unpacking read it.
bool read_through(const std::string &bytes)
{
    path_set set = {};
    int status = add_zip_entries(&set, archive_file("read.zip", bytes).c_str(), L"");
    free_path_set(&set);
    return status == 0;
}

// What check_archive_names prints of the archive, by its label, and
// whether it refused it.
std::string checked(const std::string &bytes, int *status)
{
    const std::string archive = archive_file("names.zip", bytes);
    testing::internal::CaptureStdout();
    *status = check_archive_names(archive.c_str(), "course.zip");
    return testing::internal::GetCapturedStdout();
}

TEST(ZipDirectory, EveryZip64RecordOrMarkIsRefused)
{
    const std::string plain = directory_of(named({"server.py", "lessons/one.html"}));
    ASSERT_TRUE(read_through(plain));
    EXPECT_FALSE(read_through(with_zip64_records(plain, 2))) << "a Zip64 end record and its locator";
    EXPECT_FALSE(read_through(with_end_field(plain, 12, MARK_32, 4))) << "the directory's size left to Zip64";
    EXPECT_FALSE(read_through(with_end_field(plain, 16, MARK_32, 4))) << "the directory's place left to Zip64";
    // An entry of 2 GiB or more, or one that starts past 2 GiB, as Python's
    // zipfile marks them; the disk as other tools may.
    for (header marked : std::vector<header>{{"big.bin", MARK_32, MARK_32}, {"big.bin", MARK_32},
                                             {"big.bin", 0, MARK_32}, {"far.bin", 0, 0, MARK_32},
                                             {"far.bin", 0, 0, 0, MARK_16}})
        EXPECT_FALSE(read_through(directory_of({{"server.py"}, marked})))
            << marked.packed << " " << marked.size << " " << marked.place << " " << marked.disk;

    // 65,535 entries fill the count, which then means Zip64's: Python's
    // zipfile writes it so with no Zip64 record at all.
    std::vector<header> many;
    for (int i = 0; i < 65534; i++)
        many.push_back({"f/" + std::to_string(i)});
    EXPECT_TRUE(read_through(directory_of(many))) << "65,534 entries";
    many.push_back({"f/last"});
    EXPECT_FALSE(read_through(directory_of(many))) << "65,535 entries";
}

TEST(ArchiveNames, NamesWindowsReservesAreRefusedInAnySegmentAndCase)
{
    for (const char *name : {"CON", "app/con.txt", "app/Aux/notes.txt", "nul.tar.gz", "PRN/", "COM1.txt", "lpt9",
                             "com0.log", "LPT0", "app/COM\xc2\xb9.txt", "lpt\xc2\xb3"}) {
        int status = 0;
        const std::string shown = checked(directory_of(named({"server.py", name})), &status);
        EXPECT_EQ(status, 1) << name;
        EXPECT_EQ(shown, std::string("course.zip holds a file Windows cannot create: ") + name +
                             " (a reserved name); nothing was unpacked.\n");
    }
    for (const char *name : {"CONSOLE.txt", "con-notes.txt", "COM10.txt", "LPT.txt", "auxiliary/x.py", "a.con",
                             "xnul", "icon.png", "COM\xc2\xb2\xc2\xb2"}) {
        int status = 1;
        EXPECT_EQ(checked(directory_of(named({"server.py", name})), &status), "") << name;
        EXPECT_EQ(status, 0) << name;
    }
    // The other names add_path refuses, and an archive the setup cannot read.
    int status = 0;
    EXPECT_EQ(checked(directory_of(named({"../up.txt"})), &status),
              "course.zip holds a file Windows cannot create: ../up.txt (a name that leads outside its folder, or one "
              "Windows refuses or changes); nothing was unpacked.\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(checked(with_zip64_records(directory_of(named({"server.py"})), 1), &status),
              "course.zip is not a zip archive this setup can read; nothing was unpacked.\n");
    EXPECT_EQ(status, 1);
}

TEST(ArchiveNames, TwoFilesWhoseNamesDifferOnlyInLetterCaseAreRefused)
{
    int status = 0;
    EXPECT_EQ(checked(directory_of(named({"server.py", "app/Lesson.py", "app/notes.txt", "app\\lesson.py"})),
                      &status),
              "course.zip holds two files whose names differ only in letter case: app/Lesson.py and app/lesson.py; "
              "nothing was unpacked.\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(checked(directory_of(named({"LESSONS/ONE.HTML", "b.txt", "lessons/one.html", "Lessons/One.html"})),
                      &status),
              "course.zip holds two files whose names differ only in letter case: LESSONS/ONE.HTML and "
              "lessons/one.html; nothing was unpacked.\n");
    // One folder in two letter cases is one folder; one file named twice
    // alike is one file.
    EXPECT_EQ(checked(directory_of(named({"Lessons/", "lessons/", "Lessons/one.html", "lessons/two.html", "a.txt",
                                          "a.txt"})),
                      &status),
              "");
    EXPECT_EQ(status, 0);
}

}  // namespace
