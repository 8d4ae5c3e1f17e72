// The PowerShell command lines: every character PowerShell reads as a single
// quote is doubled inside the literals, nothing else changes, and the longest
// paths, all quotes, fit whole. Runs in the UTF-8 code page the installer
// declares.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>

#include "windows/powershell_command.h"

namespace {

// ' and the typographic ‘ ’ ‚ ‛, in UTF-8.
const char QUOTES[] = "a'b\xe2\x80\x98" "c\xe2\x80\x99" "d\xe2\x80\x9a" "e\xe2\x80\x9b" "f";
// Progress records off, then the inbox cmdlet by its module-qualified name.
const char EXTRACT[] = "powershell -NoProfile -ExecutionPolicy Bypass -Command "
                       "\"$ProgressPreference='SilentlyContinue';Microsoft.PowerShell.Archive\\Expand-Archive -LiteralPath ";
const char DOUBLED[] = "a''b\xe2\x80\x98\xe2\x80\x98" "c\xe2\x80\x99\xe2\x80\x99" "d\xe2\x80\x9a\xe2\x80\x9a"
                       "e\xe2\x80\x9b\xe2\x80\x9b" "f";

TEST(PowershellCommand, EveryKindOfSingleQuoteIsDoubled)
{
    ASSERT_EQ(GetACP(), 65001u);
    char command[EXTRACTION_COMMAND_CAPACITY];
    format_extraction_command(command, (std::string("C:\\") + QUOTES + "\\x.zip").c_str(),
                              "C:\\$(calc)\\`\"dest\"");
    EXPECT_EQ(std::string(command),
              std::string(EXTRACT) + "'C:\\" + DOUBLED + "\\x.zip' -DestinationPath 'C:\\$(calc)\\`\"dest\"' -Force\"");

    const std::string shortcut_start = "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object "
                                       "-ComObject WScript.Shell).CreateShortcut('" + std::string(DOUBLED) +
                                       "');$s.TargetPath='O''Brien';$s.WorkingDirectory='it''s';";
    char shortcut[SHORTCUT_COMMAND_CAPACITY];
    format_shortcut_command(shortcut, QUOTES, "O'Brien", "it's", NULL);
    EXPECT_EQ(std::string(shortcut), shortcut_start + "$s.Save()\"") << "a course without an icon";
    format_shortcut_command(shortcut, QUOTES, "O'Brien", "it's", "C:\\O\xe2\x80\x99" "Brien\\setup.exe");
    EXPECT_EQ(std::string(shortcut), shortcut_start +
                                         "$s.IconLocation='C:\\O\xe2\x80\x99\xe2\x80\x99" "Brien\\setup.exe,0';$s.Save()\"");
}

TEST(PowershellCommand, LongestPathsAllQuotesFitWhole)
{
    const std::string longest(FILE_PATH_CAPACITY - 1, '\'');
    const std::string doubled(2 * longest.size(), '\'');
    char command[EXTRACTION_COMMAND_CAPACITY];
    format_extraction_command(command, longest.c_str(), longest.c_str());
    EXPECT_EQ(std::string(command),
              std::string(EXTRACT) + "'" + doubled + "' -DestinationPath '" + doubled + "' -Force\"");

    char shortcut[SHORTCUT_COMMAND_CAPACITY];
    format_shortcut_command(shortcut, longest.c_str(), longest.c_str(), longest.c_str(), longest.c_str());
    EXPECT_EQ(strlen(shortcut), strlen(SHORTCUT_COMMAND) - 4 * 2 + 3 * doubled.size() +
                                    strlen(SHORTCUT_ICON_STATEMENT) - 2 + doubled.size());
}

}  // namespace
