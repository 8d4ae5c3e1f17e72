// The python.exe stand-in starts a course as CPython 3.12 for Windows would,
// never more generously: under the official path file a module beside
// server.py does not import; once the setup has extended that file it does;
// only "import site" brings the learner's own site folder in, and with it
// whatever other Python tools left there.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"

namespace {

const char HOST_PYTHON[] = "/usr/bin/python3";
// What the course's server.py found, into outcome.txt beside it.
const char SERVER[] = "import sys\n"
                      "try:\n"
                      "    import lesson\n"
                      "    outcome = lesson.TEXT\n"
                      "except ModuleNotFoundError as error:\n"
                      "    outcome = 'missing ' + error.name\n"
                      "outcome += ' user_site=' + str(any(p.endswith('Python312/site-packages') for p in sys.path))\n"
                      "outcome += ' customized=' + str('usercustomize' in sys.modules)\n"
                      "open('outcome.txt', 'w').write(outcome)\n";

struct PythonStandin : ::testing::Test {
    std::string course = current_folder() + "\\python-standin-test";
    std::string appdata = course + "\\AppData";
    void SetUp() override
    {
        remove_tree(course);
        const std::string user_site = appdata + "\\Python\\Python312\\site-packages";
        for (const std::string &folder : {course, course + "\\python", appdata, appdata + "\\Python",
                                          appdata + "\\Python\\Python312", user_site})
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << folder;
        ASSERT_TRUE(CopyFileA(beside_test_program("..\\winekit\\standins\\python.exe").c_str(),
                              (course + "\\python\\python.exe").c_str(), FALSE));
        ASSERT_TRUE(write_file(course + "\\server.py", SERVER));
        ASSERT_TRUE(write_file(course + "\\lesson.py", "TEXT = 'lesson imported'\n"));
        ASSERT_TRUE(write_file(user_site + "\\usercustomize.py", "import sys\n"));
        SetEnvironmentVariableA("QUILLBY_PYTHON_HOST", HOST_PYTHON);
        SetEnvironmentVariableA("APPDATA", appdata.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("QUILLBY_PYTHON_HOST", NULL);
        remove_tree(course);
    }
    // Starts the course as the launcher does, under this path file.
    std::string outcome(const std::string &path_file)
    {
        EXPECT_TRUE(write_file(course + "\\python\\python312._pth", path_file));
        program_run run;
        EXPECT_EQ(run_captured("\"" + course + "\\python\\python.exe\" server.py", &run, course.c_str()), 0);
        EXPECT_EQ(run.exit_code, 0u) << run.output << run.errors;
        return read_file(course + "\\outcome.txt");
    }
};

TEST_F(PythonStandin, StartsAsTheEmbeddableRuntimeDoes)
{
    const std::string stock = read_file(STOCK_PATH_FILE);
    ASSERT_NE(stock, "");
    EXPECT_EQ(outcome(stock), "missing lesson user_site=False customized=False");
    EXPECT_EQ(outcome("python312.zip\r\n.\r\n..\r\n..\\packages\r\n"),
              "lesson imported user_site=False customized=False");
    EXPECT_EQ(outcome("python312.zip\r\n.\r\nimport site\r\n"), "missing lesson user_site=True customized=True");
    // Only 3.12's own zip holds a standard library it starts on: without
    // it the runtime does not start.
    ASSERT_TRUE(write_file(course + "\\python\\python312._pth", "python311.zip\r\n.\r\n..\r\n"));
    ASSERT_TRUE(DeleteFileA((course + "\\outcome.txt").c_str()));
    program_run run;
    ASSERT_EQ(run_captured("\"" + course + "\\python\\python.exe\" server.py", &run, course.c_str()), 0);
    EXPECT_NE(run.exit_code, 0u);
    EXPECT_FALSE(file_exists(course + "\\outcome.txt"));
}

// A host program started through Wine writes to Wine's own output; the
// stand-in carries it to the handles it was given, each to its own, as the
// runtime's would be, with the program's exit status.
TEST_F(PythonStandin, CarriesTheProgramsOutputToItsOwnHandles)
{
    ASSERT_TRUE(write_file(course + "\\python\\python312._pth", "python312.zip\r\n.\r\n..\r\n"));
    ASSERT_TRUE(write_file(course + "\\server.py", "print('serving', flush=True)\nimport lessons_that_are_not_there\n"));
    program_run run;
    ASSERT_EQ(run_captured("\"" + course + "\\python\\python.exe\" server.py", &run, course.c_str()), 0);
    EXPECT_EQ(run.output, "serving\n");
    EXPECT_NE(run.errors.find("ModuleNotFoundError: No module named 'lessons_that_are_not_there'"), std::string::npos)
        << run.errors;
    EXPECT_EQ(run.exit_code, 1u);
}

} // namespace
