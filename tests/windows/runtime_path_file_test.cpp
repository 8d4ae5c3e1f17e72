// The runtime's path file as the setup extends it: decided on texts
// in-process, then on files of the test's own, one failure at a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"
#include "update/runtime_path_file.h"

namespace {

// The file as the official embeddable Python 3.12 archive holds it.
const std::string STOCK = read_file(STOCK_PATH_FILE);
const char EXTENDED[] = "python312.zip\r\n.\r\n..\r\n..\\packages\r\n"
                        "\r\n# Uncomment to run site.main() automatically\r\n#import site\r\n";

// The extended text, or "(does not fit)".
std::string extended(const std::string &text, size_t capacity = 4096)
{
    std::string out(capacity, '\0');
    size_t length = extend_path_file_text(text.data(), text.size(), &out[0], capacity);
    return length == 0 ? "(does not fit)" : out.substr(0, length);
}

TEST(RuntimePathFile, CourseFoldersFollowTheLastEntryAndNothingElseChanges)
{
    EXPECT_EQ(extended(STOCK), EXTENDED);
    // The site line stays as the runtime wrote it, commented or not, and
    // no site line is ever added.
    EXPECT_EQ(extended("python312.zip\nimport site\n"), "python312.zip\n..\r\n..\\packages\r\nimport site\n");
    EXPECT_EQ(extended("python312.zip\n."), "python312.zip\n.\r\n..\r\n..\\packages\r\n");
    EXPECT_EQ(extended(""), "..\r\n..\\packages\r\n");
}

TEST(RuntimePathFile, EntriesListedAlreadyAreNotAddedTwice)
{
    EXPECT_EQ(extended(EXTENDED), EXTENDED);
    // Read as CPython reads them: blanks and a trailing comment around an
    // entry; a commented-out entry is none.
    EXPECT_EQ(extended("  ..\t# the course\n..\\packages \n"), "  ..\t# the course\n..\\packages \n");
    EXPECT_EQ(extended("python312.zip\n#..\n"), "python312.zip\n..\r\n..\\packages\r\n#..\n");
    EXPECT_EQ(extended("..\\packages\n"), "..\\packages\n..\r\n");
}

TEST(RuntimePathFile, TextThatDoesNotFitIsNotCut)
{
    // The terminator needs its byte too.
    EXPECT_EQ(extended(STOCK, sizeof EXTENDED - 1), "(does not fit)");
    EXPECT_EQ(extended(STOCK, sizeof EXTENDED), EXTENDED);
}

struct RuntimeFolder : ::testing::Test {
    std::string folder = current_folder() + "\\runtime-path-file-test";
    void SetUp() override
    {
        remove_tree(folder);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    }
    void TearDown() override { remove_tree(folder); }
};

TEST_F(RuntimeFolder, EveryPathFileIsExtendedOnceAndOtherFilesAreLeftAlone)
{
    ASSERT_TRUE(write_file(folder + "\\python312._pth", STOCK));
    ASSERT_TRUE(write_file(folder + "\\python._pth", "."));
    ASSERT_TRUE(write_file(folder + "\\python312.pth", STOCK));
    EXPECT_EQ(extend_runtime_path(folder.c_str()), 0);
    EXPECT_EQ(extend_runtime_path(folder.c_str()), 0);
    EXPECT_EQ(read_file(folder + "\\python312._pth"), EXTENDED);
    EXPECT_EQ(read_file(folder + "\\python._pth"), ".\r\n..\r\n..\\packages\r\n");
    EXPECT_EQ(read_file(folder + "\\python312.pth"), STOCK);
    EXPECT_FALSE(file_exists(folder + "\\python312._pth.new"));
}

TEST_F(RuntimeFolder, ARuntimeWithoutAPathFileNeedsNone)
{
    EXPECT_EQ(extend_runtime_path(folder.c_str()), 0);
    EXPECT_EQ(extend_runtime_path((folder + "\\missing").c_str()), 1);
}

TEST_F(RuntimeFolder, AFileThatCannotBeReplacedFailsAndStaysAsItWas)
{
    const std::string path_file = folder + "\\python312._pth";
    ASSERT_TRUE(write_file(path_file, STOCK));
    HANDLE held = CreateFileA(path_file.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(extend_runtime_path(folder.c_str()), 1);
    CloseHandle(held);
    EXPECT_EQ(read_file(path_file), STOCK);
    EXPECT_FALSE(file_exists(path_file + ".new"));
}

} // namespace
