// The guards' decisions in-process, where Wine cannot stage the learner's
// case: a claim made by a setup run as administrator, a runtime this user
// may not write.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "test_support.h"
#include "windows/install_guards.h"

namespace {

// An elevated program's objects get security that lets only administrators
// in, so a learner's setup cannot open the claim of one run as
// administrator. Wine has no elevation: an object that lets no one in, made
// by the test, stands for it.
TEST(InstallGuards, AClaimThisUserMayNotOpenIsAnotherSetups)
{
    const std::string folder = current_folder() + "\\guards-claimed";
    char key[INSTALL_FOLDER_KEY_CAPACITY];
    format_install_folder_key(key, folder.c_str());
    SECURITY_ATTRIBUTES no_one = {sizeof no_one, NULL, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1,
                                                                     &no_one.lpSecurityDescriptor, NULL));
    HANDLE elevated = CreateMutexA(&no_one, FALSE, ("Local\\" + std::string(key)).c_str());
    LocalFree(no_one.lpSecurityDescriptor);
    ASSERT_NE(elevated, nullptr);
    HANDLE claim = INVALID_HANDLE_VALUE;
    testing::internal::CaptureStdout();
    EXPECT_EQ(guard_install_folder(folder.c_str(), &claim), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "This setup is already running in another window.\n");
    EXPECT_EQ(claim, nullptr);
    CloseHandle(elevated);
}

// The course's start holds the claim while it waits for the course (up to
// two minutes on a first start): a setup run then is told so, not sent to
// look for another setup.
TEST(InstallGuards, AClaimTheCoursesStartHoldsIsNamedAsSuch)
{
    const std::string folder = current_folder() + "\\guards-starting";
    HANDLE start_claim = NULL, claim = INVALID_HANDLE_VALUE;
    ASSERT_EQ(claim_install_folder(folder.c_str(), &start_claim), 0);
    HANDLE starting = mark_course_starting(folder.c_str());
    ASSERT_NE(starting, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(guard_install_folder(folder.c_str(), &claim), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "The course is starting in another window. Close it once it has opened, then run this setup again.\n");
    EXPECT_EQ(claim, nullptr);
    CloseHandle(starting);
    testing::internal::CaptureStdout();
    EXPECT_EQ(guard_install_folder(folder.c_str(), &claim), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "This setup is already running in another window.\n");
    CloseHandle(start_claim);
}

// Starts the stand-in timeout.exe as folder\python\python.exe, read-only.
HANDLE start_runtime(const std::string &folder)
{
    const std::string runtime = folder + "\\python\\python.exe";
    SetFileAttributesA(runtime.c_str(), FILE_ATTRIBUTE_NORMAL);
    remove_tree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    CreateDirectoryA((folder + "\\python").c_str(), NULL);
    CopyFileA(beside_test_program("..\\winekit\\standins\\timeout.exe").c_str(), runtime.c_str(), FALSE);
    SetFileAttributesA(runtime.c_str(), FILE_ATTRIBUTE_READONLY);
    return start_hidden("\"" + runtime + "\" /t 60");
}

void end(HANDLE process)
{
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
}

// Windows refuses to open a read-only python.exe for writing (access
// denied) whether it runs or not, so the refusal tells nothing; Wine, run as
// root, opens it all the same, so the refusal is handed in. Another
// python.exe running (another course's, the learner's own) is not this one.
TEST(InstallGuards, ARuntimeThisUserMayNotWriteIsOpenOnlyWhileItRuns)
{
    const std::string folder = current_folder() + "\\guards-read-only";
    const std::string runtime = folder + "\\python\\python.exe";
    HANDLE other = start_runtime(current_folder() + "\\guards-other");
    ASSERT_NE(other, nullptr);
    HANDLE course = start_runtime(folder);
    ASSERT_NE(course, nullptr);
    EXPECT_EQ(runtime_is_running(runtime.c_str(), ERROR_ACCESS_DENIED), 1);
    end(course);
    EXPECT_EQ(runtime_is_running(runtime.c_str(), ERROR_ACCESS_DENIED), 0) << "closed, with another one running";
    end(other);
}

}  // namespace
