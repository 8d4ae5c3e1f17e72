// One installation's world for the end-to-end tests: its own local
// application data folder and profile, the stand-ins' logs, and what a
// complete installation of the three-part test course looks like.
#include "install_world.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "windows/install_guards.h"

extern const char BANNER[] = "End-to-end course - setup\nThis installs the end-to-end test course.\n";
extern const char *const PART_NAMES[3] = {"e2e-part-1.zip", "e2e-part-2.zip", "e2e-part-3.zip"};
extern const char LAUNCHER[] =
    "@echo off\r\n"
    "cd /d \"%~dp0\"\r\n"
    "setup.exe --start\r\n";
extern const char EXTRACT[] = "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$ProgressPreference="
                              "'SilentlyContinue';Microsoft.PowerShell.Archive\\Expand-Archive -LiteralPath '";
extern const char HOST_PYTHON[] = "/usr/bin/python3";
extern const char COMPLETE[] = "Install complete. Opening the course...\n";

world make_world(const std::string &name, const std::string &user, const std::string &base)
{
    world w;
    const std::string runs = (base.empty() ? current_folder() : base) + "\\install-runs";
    CreateDirectoryA(runs.c_str(), NULL);
    w.root = runs + "\\" + name;
    remove_tree(w.root);
    CreateDirectoryA(w.root.c_str(), NULL);
    w.profile = w.root + "\\" + user;
    w.local = w.profile + "\\AppData";
    w.install = w.local + "\\E2ECourse";
    // A start an earlier test left may still be at work on the folder.
    wait_for_install_folder(w.install);
    w.desktop = w.profile + "\\Desktop";
    CreateDirectoryA(w.profile.c_str(), NULL);
    CreateDirectoryA(w.desktop.c_str(), NULL);
    CreateDirectoryA(w.local.c_str(), NULL);
    w.powershell_log = w.root + "\\powershell.log";
    w.python_log = w.root + "\\python.log";
    SetEnvironmentVariableA("LOCALAPPDATA", w.local.c_str());
    SetEnvironmentVariableA("USERPROFILE", w.profile.c_str());
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_LOG", w.powershell_log.c_str());
    SetEnvironmentVariableA("QUILLBY_PYTHON_LOG", w.python_log.c_str());
    // The course's server really runs, on the host's Python, until its start
    // has seen it answer.
    SetEnvironmentVariableA("QUILLBY_PYTHON_HOST", HOST_PYTHON);
    SetEnvironmentVariableA("QUILLBY_POWERSHELL_FAIL", NULL);
    return w;
}

std::string in_downloads(const char *program)
{
    const std::string folder = current_folder() + "\\install-runs\\Downloads";
    CreateDirectoryA("install-runs", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    const std::string copy = folder + "\\" + program;
    EXPECT_TRUE(CopyFileA(beside_test_program(program).c_str(), copy.c_str(), FALSE)) << program;
    return copy;
}

program_run install(const char *program, const char *working_folder)
{
    program_run run;
    EXPECT_EQ(run_captured("\"" + in_downloads(program) + "\"", &run, working_folder), 0);
    EXPECT_EQ(run.errors, "");
    return run;
}

long long served_size(const std::string &name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(("..\\served-files\\" + name).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// What a verified download prints when every read but the last fills the
// 16384-byte buffer, as Wine's WinINet does.
std::string download_lines(const std::string &label, long long size, const char *verb)
{
    const std::string head = verb + (" " + label) + " ... ";
    std::string text = head;
    for (long long total = 0; total < size;) {
        total += size - total < 16384 ? size - total : 16384;
        if (total % 524288 < 16384)
            text += "\r" + head + std::to_string(total / 1024) + " KB";
    }
    return text + "\r" + head + std::to_string(size / 1024) + " KB, done.          \n" + "Checksum verified for " +
           label + ".\n";
}

std::string runtime_lines()
{
    return download_lines("the test runtime", served_size("e2e-python.zip"));
}

std::string part_lines(int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += download_lines(PART_NAMES[i], served_size(PART_NAMES[i]));
    return text;
}

std::string extraction(const std::string &archive, const std::string &destination)
{
    return EXTRACT + archive + "' -DestinationPath '" + destination + "' -Force\"\n";
}

// The test course has an icon: the first of the setup kept in the install
// folder.
static std::string shortcut_command(const std::string &shortcut, const std::string &target, const std::string &folder)
{
    return "powershell -NoProfile -ExecutionPolicy Bypass -Command \"$s=(New-Object -ComObject "
           "WScript.Shell).CreateShortcut('" +
           shortcut + "');$s.TargetPath='" + target + "';$s.WorkingDirectory='" + folder + "';$s.IconLocation='" +
           folder + "\\setup.exe,0';$s.Save()\"\n";
}

// The command lines of a complete installation, paths as they must appear
// inside the quotes (install and desktop given already escaped): every
// archive unpacks into the staging folder, laid out as the install folder.
std::string full_powershell_log(const std::string &install, const std::string &desktop)
{
    const std::string staging = install + "\\update-staging";
    std::string log = extraction(install + "\\dl\\python.zip", staging + "\\python");
    for (const char *name : PART_NAMES)
        log += extraction(install + "\\dl\\" + name, staging);
    return log + shortcut_command(desktop + "\\E2E Course.lnk", install + "\\start-e2e.bat", install);
}

// The launcher runs on after the installer has ended; its traces come later.
std::string wait_for_file(const std::string &path, const char *needle)
{
    for (int i = 0; i < 300; i++) {
        std::string text = read_file(path);
        if (text.find(needle) != std::string::npos)
            return text;
        Sleep(100);
    }
    return read_file(path);
}

void expect_installed_files(const std::string &install)
{
    EXPECT_TRUE(file_exists(install + "\\dl\\python.zip"));
    for (const char *name : PART_NAMES)
        EXPECT_TRUE(file_exists(install + "\\dl\\" + name)) << name;
    EXPECT_TRUE(file_exists(install + "\\python\\python.exe"));
    EXPECT_FALSE(file_exists(install + "\\python.exe")) << "the runtime goes into its own folder";
    // The course's modules and packages are on the runtime's isolated path.
    EXPECT_NE(read_file(install + "\\python\\python312._pth").find("\r\n.\r\n..\r\n..\\packages\r\n"),
              std::string::npos);
    EXPECT_TRUE(file_exists(install + "\\server.py"));
    EXPECT_TRUE(file_exists(install + "\\index.html"));
    EXPECT_TRUE(file_exists(install + "\\assets\\style.css"));
    EXPECT_TRUE(file_exists(install + "\\lessons\\lesson-1.html"));
    EXPECT_EQ(read_file(install + "\\start-e2e.bat"), LAUNCHER);
}

void expect_course_started(const world &w)
{
    std::string python = wait_for_file(w.python_log, "server.py");
    EXPECT_NE(python.find("cwd=" + w.install + " "), std::string::npos) << python;
    EXPECT_NE(python.find("python\\python.exe"), std::string::npos) << python;
    EXPECT_NE(python.find("server.py"), std::string::npos) << python;
    // The browser stand-in runs on the host side of Wine, out of reach of
    // this process's environment: one log for all, each line naming the
    // folder the browser was started in.
    const std::string run_folder = w.install.substr(w.install.find("\\install-runs\\") + 1);
    std::string line = run_folder;
    for (char &c : line)
        if (c == '\\')
            c = '/';
    // The course's address has a query with & and %20, which cmd.exe would
    // split at and expand: the browser gets it whole.
    line += " http://127.0.0.1:8793/?unit=1&lang=fr%20x";
    const std::string browser = wait_for_file("..\\browser.log", line.c_str());
    EXPECT_NE(browser.find(line), std::string::npos)
        << "the launcher opens the course address from the install folder; the browser was asked for:\n" << browser;
    wait_for_start_to_end(w);
}

int course_starts(const world &w)
{
    const std::string log = read_file(w.python_log);
    int count = 0;
    for (size_t at = log.find(" server.py"); at != std::string::npos; at = log.find(" server.py", at + 1))
        count++;
    return count;
}

void wait_for_start_to_end(const world &w, int starts_before)
{
    for (int i = 0; i < 3000 && course_starts(w) <= starts_before; i++)
        Sleep(10);
    EXPECT_GT(course_starts(w), starts_before) << "the course was not started";
    // The start lets go of the install folder as it ends, just after the
    // browser was sent, and the test course's server ends once the start
    // has seen it answer: a setup run before then would find either at work.
    wait_for_install_folder(w.install);
    for (int i = 0; i < 3000 && course_is_open(w.install.c_str()); i++)
        Sleep(10);
    EXPECT_FALSE(course_is_open(w.install.c_str())) << "the course's server still runs";
}

void wait_for_install_folder(const std::string &install)
{
    HANDLE claim = NULL;
    for (int i = 0; i < 3000 && claim_install_folder(install.c_str(), &claim) != 0; i++)
        Sleep(10);
    EXPECT_NE(claim, nullptr) << "a setup or a start still holds " << install;
    if (claim)
        CloseHandle(claim);
}


// Read back through the shell's own shortcut object, so what counts is what
// Windows will open, not the bytes of the file.
void expect_shortcut(const world &w)
{
    const std::string shortcut = w.desktop + "\\E2E Course.lnk";
    ASSERT_TRUE(file_exists(shortcut));
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    char target[MAX_PATH] = "", folder[MAX_PATH] = "", icon[MAX_PATH] = "";
    int icon_index = -1;
    wchar_t wide_shortcut[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, shortcut.c_str(), -1, wide_shortcut, MAX_PATH);
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(wide_shortcut, STGM_READ))) {
        link->GetPath(target, MAX_PATH, NULL, 0);
        link->GetWorkingDirectory(folder, MAX_PATH);
        link->GetIconLocation(icon, MAX_PATH, &icon_index);
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    EXPECT_EQ(std::string(target), w.install + "\\start-e2e.bat");
    EXPECT_EQ(std::string(folder), w.install);
    EXPECT_EQ(std::string(icon), w.install + "\\setup.exe") << "the course's icon, from the setup kept there";
    EXPECT_EQ(icon_index, 0);
}
