// The PowerShell command lines: every character PowerShell reads as a single
// quote is doubled inside the literals, nothing else changes, and a line too
// long for its buffer is cut, never overrun. Runs in the UTF-8 code page the
// installer declares.
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

#include <string>

#include "powershell_command.h"

namespace {

// ' and the typographic ‘ ’ ‚ ‛, in UTF-8.
const char QUOTES[] = "a'b\xe2\x80\x98" "c\xe2\x80\x99" "d\xe2\x80\x9a" "e\xe2\x80\x9b" "f";
const char DOUBLED[] = "a''b\xe2\x80\x98\xe2\x80\x98" "c\xe2\x80\x99\xe2\x80\x99" "d\xe2\x80\x9a\xe2\x80\x9a"
                       "e\xe2\x80\x9b\xe2\x80\x9b" "f";

TEST(PowershellCommand, EveryKindOfSingleQuoteIsDoubled)
{
    ASSERT_EQ(GetACP(), 65001u);
    char command[2048];
    format_extraction_command(command, sizeof command, (std::string("C:\\") + QUOTES + "\\x.zip").c_str(),
                              "C:\\$(calc)\\`\"dest\"");
    EXPECT_EQ(std::string(command),
              std::string("powershell -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -LiteralPath "
                          "'C:\\") + DOUBLED + "\\x.zip' -DestinationPath 'C:\\$(calc)\\`\"dest\"' -Force\"");

    char shortcut[2400];
    format_shortcut_command(shortcut, sizeof shortcut, QUOTES, "O'Brien", "it's");
    EXPECT_EQ(std::string(shortcut),
              std::string("powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object -ComObject "
                          "WScript.Shell).CreateShortcut('") + DOUBLED +
                  "');$s.TargetPath='O''Brien';$s.WorkingDirectory='it''s';$s.Save()\"");
}

TEST(PowershellCommand, TooLongIsCutAndTerminated)
{
    char command[64];
    memset(command, '#', sizeof command);
    format_extraction_command(command, 40, "C:\\archive.zip", "C:\\destination");
    EXPECT_EQ(strlen(command), 39u);
    EXPECT_EQ(command[40], '#') << "nothing is written past the capacity";
}

}  // namespace
