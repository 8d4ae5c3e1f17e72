// What the setup reads of an archive before unpacking it, decided in-process
// on central directories of the test's own: every Zip64 record or mark
// refused.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "test_support.h"
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

}  // namespace
