// The install folder's tree measured and removed, in-process on a tree of
// the test's own: read-only files and folders go, a file that cannot go is
// named and everything else still goes, and every name is taken as it is on
// disk. The program runs in the system's ANSI code page, as the setup does
// on Windows before 1903, which ignores its manifest's UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"
#include "windows/folder_tree.h"

namespace {

void write_bytes(const std::string &path, size_t count)
{
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(std::string(count, 'x').data(), 1, count, file);
    fclose(file);
}

std::wstring wide(const std::string &text)
{
    wchar_t units[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, units, MAX_PATH);
    return units;
}

// Made with the wide calls and the \\?\ prefix: no narrow text could name
// these.
void make_folder(const std::wstring &path)
{
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), NULL));
}

void write_wide(const std::wstring &path, DWORD count)
{
    HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(file, std::string(count, 'x').data(), count, &written, NULL);
    CloseHandle(file);
}

// tree\a.txt (1 byte), tree\lessons\b.txt (2048 bytes, read-only) and
// tree\lessons\old\ (a read-only folder holding c.txt, 1024 bytes).
std::string make_tree(const char *name)
{
    const std::string tree = current_folder() + "\\" + name;
    remove_tree(tree);
    CreateDirectoryA(tree.c_str(), NULL);
    CreateDirectoryA((tree + "\\lessons").c_str(), NULL);
    CreateDirectoryA((tree + "\\lessons\\old").c_str(), NULL);
    write_bytes(tree + "\\a.txt", 1);
    write_bytes(tree + "\\lessons\\b.txt", 2048);
    write_bytes(tree + "\\lessons\\old\\c.txt", 1024);
    SetFileAttributesA((tree + "\\lessons\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((tree + "\\lessons\\old").c_str(), FILE_ATTRIBUTE_READONLY);
    return tree;
}

TEST(FolderTree, SizeIsEveryFileInKilobytesRoundedUp)
{
    const std::string tree = make_tree("tree-size");
    EXPECT_EQ(folder_size_kb(tree.c_str()), 4ul);
    EXPECT_EQ(folder_size_kb((tree + "\\lessons\\old").c_str()), 1ul);
    EXPECT_EQ(folder_size_kb((tree + "\\missing").c_str()), 0ul);
}

// A file held open without leave to delete it (by a program of the course
// still running, say) stays and is named, its folders stay without a word,
// and all else goes; once let go, it goes too.
TEST(FolderTree, RemovesAllButWhatCannotGoAndNamesThat)
{
    const std::string tree = make_tree("tree-held");
    const std::string held = tree + "\\lessons\\old\\c.txt";
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    testing::internal::CaptureStdout();
    EXPECT_EQ(remove_folder_tree(tree.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not remove " + held + ".\n");
    CloseHandle(file);
    EXPECT_TRUE(file_exists(held));
    EXPECT_FALSE(file_exists(tree + "\\a.txt"));
    EXPECT_FALSE(file_exists(tree + "\\lessons\\b.txt"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(remove_folder_tree(tree.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(file_exists(tree));
    EXPECT_EQ(remove_folder_tree(tree.c_str()), 0) << "a folder already gone is no failure";
}

// A folder whose name a narrow listing in this code page turns into a way
// out of the tree, a file whose name ends in a dot (which a path without the
// prefix loses), and a file deeper than 260 characters.
TEST(FolderTree, EveryNameIsTakenAsItIsOnDisk)
{
    char mapped[8] = "";
    WideCharToMultiByte(CP_ACP, 0, L"\xff3c", -1, mapped, sizeof mapped, NULL, NULL);
    ASSERT_STREQ(mapped, "\\") << "the ANSI code page (1252 under Wine in English) reads U+FF3C as a backslash";
    const std::string tree = make_tree("tree-names");
    const std::string outside = current_folder() + "\\tree-names-outside";
    remove_tree(outside);
    CreateDirectoryA(outside.c_str(), NULL);
    write_bytes(outside + "\\mine.txt", 5000);
    make_folder(wide(tree) + L"\\x\xff3c..\xff3c..\xff3ctree-names-outside");
    write_wide(wide(tree) + L"\\lesson.", 1);
    std::wstring deep = wide(tree);
    while (deep.size() < MAX_PATH) {
        deep += L"\\" + std::wstring(100, L'd');
        make_folder(deep);
    }
    write_wide(deep + L"\\deep.txt", 2048);

    EXPECT_EQ(folder_size_kb(tree.c_str()), 6ul) << "5122 bytes in the tree, none outside it";
    testing::internal::CaptureStdout();
    EXPECT_EQ(remove_folder_tree(tree.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(file_exists(tree));
    EXPECT_TRUE(file_exists(outside + "\\mine.txt"));
}

// Python's caches go, every one and only them: the sources beside them, a
// file the learner put in one, and a cache reached through a link stay.
TEST(FolderTree, PythonCachesGoAndNothingElse)
{
    const std::string tree = make_tree("caches");
    const std::string outside = make_tree("caches-outside");
    for (const std::string &folder : {tree + "\\__pycache__", tree + "\\lessons\\__pycache__",
                                      outside + "\\__pycache__"})
        CreateDirectoryA(folder.c_str(), NULL);
    for (const std::string &file : {tree + "\\server.py", tree + "\\__pycache__\\server.cpython-312.pyc",
                                    tree + "\\lessons\\__pycache__\\quiz.cpython-312.pyc",
                                    tree + "\\lessons\\__pycache__\\my-notes.txt",
                                    outside + "\\__pycache__\\victim.cpython-312.pyc"})
        write_bytes(file, 3);
    ASSERT_TRUE(link_folder("../caches-outside", "caches/linked"));
    remove_python_caches(tree.c_str());
    EXPECT_FALSE(file_exists(tree + "\\__pycache__")) << "an emptied cache folder stays";
    EXPECT_FALSE(file_exists(tree + "\\lessons\\__pycache__\\quiz.cpython-312.pyc"));
    EXPECT_TRUE(file_exists(tree + "\\lessons\\__pycache__\\my-notes.txt"));
    EXPECT_TRUE(file_exists(tree + "\\server.py"));
    EXPECT_TRUE(file_exists(outside + "\\__pycache__\\victim.cpython-312.pyc")) << "removed through a link";
}

}  // namespace
