// The installer on a learner's machine as it really is: run from a Downloads
// folder where a hostile page has left a wininet.dll and a powershell.exe,
// and for a user whose folder name is outside any single-byte code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install_world.h"

namespace {

void copy_beside(const std::string &from, const std::string &to)
{
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " to " << to;
}

// Downloads holds the installer and, planted beside it, a wininet.dll that
// records who loads it and a powershell.exe (the python.exe stand-in under
// that name) that records that it ran.
std::string plant_downloads(const world &w)
{
    const std::string downloads = w.profile + "\\Downloads";
    CreateDirectoryA(downloads.c_str(), NULL);
    copy_beside(beside_test_program("e2e-setup.exe"), downloads + "\\e2e-setup.exe");
    copy_beside(beside_test_program("search_probe.exe"), downloads + "\\search_probe.exe");
    copy_beside(beside_test_program("..\\planted\\wininet.dll"), downloads + "\\wininet.dll");
    copy_beside(beside_test_program("..\\winekit\\standins\\python.exe"), downloads + "\\powershell.exe");
    SetEnvironmentVariableA("QUILLBY_PLANTED_LOG", (w.root + "\\planted.log").c_str());
    return downloads;
}

TEST(Hardening, NothingPlantedBesideTheInstallerIsLoadedOrRun)
{
    world w = make_world("planted");
    const std::string downloads = plant_downloads(w);

    // The planted files work: a program trusting the default searches loads
    // the DLL and runs the planted PowerShell.
    program_run probe;
    ASSERT_EQ(run_captured("\"" + downloads + "\\search_probe.exe\" wininet.dll \"powershell -Command exit\"",
                           &probe, downloads.c_str()),
              0);
    EXPECT_NE(read_file(w.root + "\\planted.log").find("search_probe.exe"), std::string::npos);
    EXPECT_NE(read_file(w.python_log).find("powershell -Command exit"), std::string::npos);
    DeleteFileA((w.root + "\\planted.log").c_str());
    DeleteFileA(w.python_log.c_str());

    program_run run;
    ASSERT_EQ(run_captured("\"" + downloads + "\\e2e-setup.exe\"", &run, downloads.c_str()), 0);
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_FALSE(file_exists(w.root + "\\planted.log")) << read_file(w.root + "\\planted.log");
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(w.install, w.desktop));
    // The only python.exe start is the course's own, by the launcher.
    std::string python = wait_for_file(w.python_log, "server.py");
    EXPECT_EQ(python.find("powershell"), std::string::npos) << python;
}

// Without the system's PowerShell there is none to run: the powershell.exe
// planted beside the setup is not it, and the unpacking fails. The tests'
// PowerShell is moved aside for the run, which is why no two installation
// tests run at once.
TEST(Hardening, WithoutTheSystemPowerShellThePlantedOneIsNotRun)
{
    world w = make_world("no-powershell");
    const std::string downloads = plant_downloads(w);
    const std::string powershell = system_file("WindowsPowerShell\\v1.0\\powershell.exe");
    const std::string aside = powershell + ".aside";
    ASSERT_TRUE(MoveFileA(powershell.c_str(), aside.c_str()));
    program_run run;
    const int started = run_captured("\"" + downloads + "\\e2e-setup.exe\"", &run, downloads.c_str());
    ASSERT_TRUE(MoveFileA(aside.c_str(), powershell.c_str()));
    ASSERT_EQ(started, 0);
    // The setup unpacks by itself, never by the planted program.
    EXPECT_NE(run.output.find(text_mode("PowerShell could not unpack the test runtime; this setup unpacked it "
                                        "itself.\n")), std::string::npos) << run.output;
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(read_file(w.python_log).find("powershell.exe"), std::string::npos)
        << "the planted powershell.exe ran: " << read_file(w.python_log);
    EXPECT_FALSE(file_exists(w.powershell_log));
}

// With the UTF-8 code page the program declares, the narrow-text calls carry
// letters that no single-byte code page holds.
TEST(Hardening, UserFolderOutsideTheSingleByteCodePages)
{
    ASSERT_EQ(GetACP(), 65001u) << "the tests run in the code page the installer declares";
    world w = make_world("unicode", "Zo\xc3\xab \xe7\x8e\x8b\xe8\x8a\xb3");
    program_run run = install("e2e-setup.exe");
    EXPECT_EQ(run.output, text_mode(BANNER + runtime_lines() + part_lines(3) + COMPLETE));
    EXPECT_EQ(run.exit_code, 0u);
    expect_installed_files(w.install);
    expect_shortcut(w);
    EXPECT_EQ(read_file(w.powershell_log), full_powershell_log(w.install, w.desktop));
    expect_course_started(w);
}

}  // namespace
