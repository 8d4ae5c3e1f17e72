// The PowerShell stand-in unpacks as Windows PowerShell 5.1 with its inbox
// archive module does, never more kindly, on archives written here: entries
// it cannot place are skipped with an error and status 0; an entry it cannot
// even start on stops the rest and takes back what the call unpacked, status
// 0 still; Group Policy turning scripts off keeps the archive module from
// loading (status 1) and leaves the shortcut command alone; each file gets
// its entry's time as local time; a name without the UTF-8 flag is in the
// system's ANSI code page; an end record miscounting the entries refuses the
// archive.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "windows/folder_tree.h"
#include "zip/file_check.h"
#include "zip/unpacked_check.h"

namespace {

struct test_entry {
    std::string name; // the bytes the archive holds
    std::string content;
    uint16_t flags;    // 0x0800: the name is UTF-8
    uint32_t dos_time; // DOS date << 16 | DOS time
};

std::string little_endian(uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; i++)
        text += (char)(value >> 8 * i & 0xff);
    return text;
}

uint32_t dos_time(int year, int month, int day, int hour, int minute, int second)
{
    return (uint32_t)((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 | second / 2);
}

// A zip of stored entries whose end record counts count of them (all of
// them where count is negative).
std::string zip_of(const std::vector<test_entry> &entries, int count = -1)
{
    std::string local, central;
    for (const test_entry &entry : entries) {
        uint32_t size = (uint32_t)entry.content.size();
        std::string fields = little_endian(20, 2) + little_endian(entry.flags, 2) + little_endian(0, 2) +
                             little_endian(entry.dos_time, 4) +
                             little_endian(crc32_update(0, entry.content.data(), size), 4) + little_endian(size, 4) +
                             little_endian(size, 4) + little_endian((uint32_t)entry.name.size(), 2) +
                             little_endian(0, 2);
        central += little_endian(0x02014b50, 4) + little_endian(20, 2) + fields + std::string(10, '\0') +
                   little_endian((uint32_t)local.size(), 4) + entry.name;
        local += little_endian(0x04034b50, 4) + fields + entry.name + entry.content;
    }
    uint32_t counted = count < 0 ? (uint32_t)entries.size() : (uint32_t)count;
    return local + central + little_endian(0x06054b50, 4) + little_endian(0, 4) + little_endian(counted, 2) +
           little_endian(counted, 2) + little_endian((uint32_t)central.size(), 4) +
           little_endian((uint32_t)local.size(), 4) + little_endian(0, 2);
}

const uint32_t NOON = dos_time(2025, 1, 14, 12, 0, 0); // for entries whose time is not the point

const char POLICY_KEY[] = "Software\\Policies\\Microsoft\\Windows\\PowerShell";

struct PowershellStandin : ::testing::Test {
    std::string folder = current_folder() + "\\powershell-standin";
    std::string destination = folder + "\\out";

    void SetUp() override
    {
        remove_folder_tree(folder.c_str()); // the wide walk reaches past 260 characters
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    }
    void TearDown() override
    {
        for (HKEY scope : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            RegDeleteTreeA(scope, POLICY_KEY);
        remove_folder_tree(folder.c_str());
    }
    std::string powershell(const std::string &command)
    {
        return "\"" + beside_test_program("..\\winekit\\standins\\powershell.exe") +
               "\" -NoProfile -ExecutionPolicy Bypass -Command \"" + command + "\"";
    }
    // Expand-Archive as the setup runs it, on an archive holding entries.
    program_run expand(const std::string &archive_bytes, const std::string &into)
    {
        const std::string archive = folder + "\\test.zip";
        EXPECT_TRUE(write_file(archive, archive_bytes));
        program_run run;
        EXPECT_EQ(run_captured(powershell("$ProgressPreference='SilentlyContinue';Microsoft.PowerShell.Archive\\"
                                          "Expand-Archive -LiteralPath '" +
                                          archive + "' -DestinationPath '" + into + "' -Force"),
                               &run),
                  0);
        return run;
    }
};

bool has_line(const program_run &run, const std::string &line)
{
    return run.errors.find(text_mode(line + "\n")) != std::string::npos;
}

// A file held open, a program running, a name leading out of the destination:
// each entry is skipped with PowerShell's error, and the others unpacked.
TEST_F(PowershellStandin, EntriesItCannotPlaceAreSkippedWithStatus0)
{
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), NULL));
    const std::string held = destination + "\\held.txt", program = destination + "\\course.exe";
    ASSERT_TRUE(write_file(held, "before"));
    ASSERT_TRUE(CopyFileA(beside_test_program("..\\winekit\\standins\\timeout.exe").c_str(), program.c_str(), FALSE));
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE running = start_hidden("\"" + program + "\" /t 60");
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ASSERT_NE(running, nullptr);
    program_run run = expand(zip_of({{"held.txt", "after", 0, NOON},
                                     {"course.exe", "new program", 0, NOON},
                                     {"../outside.txt", "out", 0, NOON},
                                     {"lessons/next.txt", "next", 0, NOON}}),
                             destination);
    CloseHandle(holder);
    TerminateProcess(running, 1);
    WaitForSingleObject(running, INFINITE);
    CloseHandle(running);
    EXPECT_EQ(run.exit_code, 0u) << run.errors;
    EXPECT_TRUE(has_line(run, "Remove-Item : Cannot remove item " + held + ": The process cannot access the file '" +
                                  held + "' because it is being used by another process."))
        << run.errors;
    EXPECT_TRUE(has_line(run, "Remove-Item : Cannot remove item " + program + ": Access to the path '" + program +
                                  "' is denied."))
        << run.errors;
    EXPECT_TRUE(has_line(run, "ExpandArchiveHelper : Can not process invalid archive entry '../outside.txt'."))
        << run.errors;
    EXPECT_EQ(read_file(held), "before");
    EXPECT_NE(read_file(program), "new program");
    EXPECT_FALSE(file_exists(folder + "\\outside.txt"));
    EXPECT_EQ(read_file(destination + "\\lessons\\next.txt"), "next");
}

// A folder of 248 characters or more is skipped (New-Item fails); a file of
// 260 or more stops the expansion (New-Object FileInfo throws): what the call
// had unpacked goes again and the rest stays in the archive, with status 0.
TEST_F(PowershellStandin, Folders248AndFiles260CharactersLong)
{
    const size_t base = destination.size() + 1;
    const std::string fits = "fits/" + std::string(247 - base - 5, 'f') + "/file_11.txt";
    const std::string too_long = "deep/" + std::string(248 - base - 5, 'd') + "/a.txt";
    program_run skipped =
        expand(zip_of({{fits, "259", 0, NOON}, {too_long, "254", 0, NOON}, {"after.txt", "a", 0, NOON}}), destination);
    EXPECT_EQ(skipped.exit_code, 0u) << skipped.errors;
    EXPECT_TRUE(has_line(skipped, "New-Item : The specified path, file name, or both are too long. The fully "
                                  "qualified file name must be less than 260 characters, and the directory name "
                                  "must be less than 248 characters."))
        << skipped.errors;
    std::string unpacked = destination + "\\" + fits;
    for (char &c : unpacked)
        c = c == '/' ? '\\' : c;
    ASSERT_EQ(unpacked.size(), 259u);
    EXPECT_EQ(read_file(unpacked), "259");
    EXPECT_EQ(read_file(destination + "\\after.txt"), "a");

    const std::string second = folder + "\\second";
    const std::string at_limit(260 - second.size() - 1, 'x');
    program_run stopped = expand(zip_of({{"lessons/first.txt", "1", 0, NOON},
                                         {at_limit, "260", 0, NOON},
                                         {"last.txt", "3", 0, NOON}}),
                                 second);
    EXPECT_EQ(stopped.exit_code, 0u) << stopped.errors;
    EXPECT_TRUE(has_line(stopped, "New-Object : Exception calling \".ctor\" with \"1\" argument(s): \"The specified "
                                  "path, file name, or both are too long. The fully qualified file name must be less "
                                  "than 260 characters, and the directory name must be less than 248 characters.\""))
        << stopped.errors;
    EXPECT_FALSE(file_exists(second + "\\lessons")) << "what the call unpacked is taken back";
    EXPECT_FALSE(file_exists(second + "\\last.txt")) << "entries after the failure are not unpacked";
}

TEST_F(PowershellStandin, GroupPolicyTurningScriptsOffRefusesTheArchiveModuleOnly)
{
    const std::string shortcut = folder + "\\Course.lnk";
    DWORD off = 0, on = 1;
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, POLICY_KEY, "EnableScripts", REG_DWORD, &off, sizeof off),
              ERROR_SUCCESS);
    program_run refused = expand(zip_of({{"server.py", "print()", 0, NOON}}), destination);
    EXPECT_EQ(refused.exit_code, 1u);
    EXPECT_TRUE(has_line(refused, "Microsoft.PowerShell.Archive\\Expand-Archive : The module "
                                  "'Microsoft.PowerShell.Archive' could not be loaded. For more information, run "
                                  "'Import-Module Microsoft.PowerShell.Archive'."))
        << refused.errors;
    EXPECT_FALSE(file_exists(destination + "\\server.py"));
    program_run linked;
    ASSERT_EQ(run_captured(powershell("$s=(New-Object -ComObject WScript.Shell).CreateShortcut('" + shortcut +
                                      "');$s.TargetPath='" + folder + "\\start.bat';$s.WorkingDirectory='" + folder +
                                      "';$s.Save()"),
                           &linked),
              0);
    EXPECT_EQ(linked.exit_code, 0u) << linked.output << linked.errors;
    EXPECT_TRUE(file_exists(shortcut));
    // The computer's setting comes before the user's.
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, POLICY_KEY, "EnableScripts", REG_DWORD, &on, sizeof on),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, POLICY_KEY, "ExecutionPolicy", REG_SZ, "RemoteSigned", 13),
              ERROR_SUCCESS);
    program_run allowed = expand(zip_of({{"server.py", "print()", 0, NOON}}), destination);
    EXPECT_EQ(allowed.exit_code, 0u) << allowed.errors;
    EXPECT_EQ(read_file(destination + "\\server.py"), "print()");
}

// Read back as local time: what the learner's Explorer shows. An entry whose
// DOS date is no date gets 1980-01-01 00:00:00.
TEST_F(PowershellStandin, EachFileGetsItsEntrysTimeAsLocalTime)
{
    program_run run = expand(zip_of({{"dated.txt", "d", 0, dos_time(2021, 7, 14, 12, 30, 10)},
                                     {"undated.txt", "u", 0, 0}}),
                             destination);
    EXPECT_EQ(run.exit_code, 0u) << run.errors;
    const struct {
        const char *name;
        WORD year, month, day, hour, minute, second;
    } expected[] = {{"dated.txt", 2021, 7, 14, 12, 30, 10}, {"undated.txt", 1980, 1, 1, 0, 0, 0}};
    for (const auto &file : expected) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        SYSTEMTIME utc, local = {};
        ASSERT_TRUE(GetFileAttributesExA((destination + "\\" + file.name).c_str(), GetFileExInfoStandard, &data));
        ASSERT_TRUE(FileTimeToSystemTime(&data.ftLastWriteTime, &utc));
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(NULL, &utc, &local));
        EXPECT_EQ(std::vector<WORD>({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond}),
                  std::vector<WORD>({file.year, file.month, file.day, file.hour, file.minute, file.second}))
            << file.name;
    }
}

// Without the flag, é is byte E9 in Windows-1252 (Θ in IBM437, where
// PKWARE's APPNOTE puts zip names); with it, UTF-8.
TEST_F(PowershellStandin, NamesWithoutTheUtf8FlagAreInTheSystemsAnsiCodePage)
{
    char code_page[16] = "";
    DWORD size = sizeof code_page;
    RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", RRF_RT_REG_SZ, NULL,
                 code_page, &size);
    if (std::string(code_page) != "1252")
        GTEST_SKIP() << "the system's ANSI code page is " << code_page << ", not 1252";
    program_run run = expand(zip_of({{"caf\xE9.txt", "ansi", 0, NOON}, {"na\xC3\xAFve.txt", "utf-8", 0x0800, NOON}}),
                             destination);
    EXPECT_EQ(run.exit_code, 0u) << run.errors;
    const std::wstring wide(destination.begin(), destination.end());
    EXPECT_NE(GetFileAttributesW((wide + L"\\caf\u00e9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((wide + L"\\na\u00efve.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    // The setup reads the names as it does, so it finds what it unpacked.
    EXPECT_EQ(check_unpacked((folder + "\\test.zip").c_str(), destination.c_str()), 0);
}

// .NET's ZipArchive reads the central directory through and refuses an
// archive whose end record counts other than it holds: nothing is unpacked,
// and the error, written inside the module, leaves status 0.
TEST_F(PowershellStandin, AnEndRecordCountingTooFewEntriesRefusesTheArchive)
{
    program_run run = expand(zip_of({{"a.txt", "a", 0, NOON}, {"b.txt", "b", 0, NOON}}, 1), destination);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(has_line(run, "Exception getting \"Entries\": \"Number of entries expected in End Of Central "
                              "Directory does not correspond to number of entries in Central Directory.\""))
        << run.errors;
    EXPECT_FALSE(file_exists(destination + "\\a.txt"));
}

} // namespace
