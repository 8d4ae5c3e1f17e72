// The verified download against the local HTTPS server under Wine: the exact
// console text, the result and what stays on disk, for good, broken and
// hostile responses. Each download runs in download_driver.exe, a process of
// its own, so the console text is what a learner would see.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "sha256.h"
#include "test_server.h"
#include "test_support.h"

namespace {

const char EMPTY_DIGEST[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char UNREACHABLE[] = "Could not reach the download address. Check the internet connection and try again.\n";
const char DONE_PADDING[] = ", done.          \n";

program_run download(const std::string &url, const std::string &path, const std::string &expected,
                     const std::string &label, const std::string &limit = "")
{
    program_run run;
    std::string command = "\"" + beside_test_program("download_driver.exe") + "\" \"" + url + "\" \"" + path +
                          "\" \"" + expected + "\" \"" + label + "\"" + (limit.empty() ? "" : " " + limit);
    EXPECT_EQ(run_captured(command, &run), 0);
    EXPECT_EQ(run.errors, "");
    return run;
}

// A fresh path for this test's download, with nothing at it.
std::string fresh_path(const char *name)
{
    std::string path = std::string("download_test_") + name + ".bin";
    DeleteFileA(path.c_str());
    return path;
}

std::string file_digest(const std::string &path)
{
    char text[65];
    return sha256_file_hex(path.c_str(), text) == 0 ? text : "(unreadable)";
}

long long expected_kb(const char *body)
{
    return atoll(server_value(std::string("SIZE_") + body).c_str()) / 1024;
}

// A transcript split into its parts: the KB figure of every progress line,
// the figure of the closing line and everything after it.
struct transcript {
    std::vector<long long> progress;
    long long done_kb = -1;
    std::string verdict;
};

// Parses a download's console text (after undoing the CR LF of text mode)
// and fails the test where it strays from the form every download shares.
transcript parse_transcript(const std::string &console, const std::string &label)
{
    transcript parsed;
    std::string text;
    for (size_t i = 0; i < console.size(); i++)
        if (!(console[i] == '\r' && i + 1 < console.size() && console[i + 1] == '\n'))
            text += console[i];
    const std::string head = "Downloading " + label + " ... ";
    if (text.compare(0, head.size(), head) != 0) {
        ADD_FAILURE() << "no opening line in: " << text;
        return parsed;
    }
    size_t at = head.size();
    const std::string line_start = "\r" + head;
    while (text.compare(at, line_start.size(), line_start) == 0) {
        at += line_start.size();
        char *end = NULL;
        long long kb = strtoll(text.c_str() + at, &end, 10);
        at = end - text.c_str();
        if (text.compare(at, 3, " KB") != 0) {
            ADD_FAILURE() << "malformed progress at " << at << " in: " << text;
            return parsed;
        }
        at += 3;
        if (text.compare(at, sizeof DONE_PADDING - 1, DONE_PADDING) == 0) {
            parsed.done_kb = kb;
            parsed.verdict = text.substr(at + sizeof DONE_PADDING - 1);
            return parsed;
        }
        parsed.progress.push_back(kb);
    }
    ADD_FAILURE() << "no closing line in: " << text;
    return parsed;
}

// A progress line appears only while the total is within one read of a
// multiple of 512 KB, and the figures never go down.
void expect_progress_rhythm(const transcript &parsed)
{
    for (size_t i = 0; i < parsed.progress.size(); i++) {
        EXPECT_LT(parsed.progress[i] % 512, 16) << "progress line " << i;
        if (i > 0) {
            EXPECT_GE(parsed.progress[i], parsed.progress[i - 1]);
        }
    }
}

std::string check_failed(const std::string &label, const std::string &expected, const std::string &actual)
{
    return "CHECK FAILED for " + label + ".\nExpected checksum " + expected + "\nDownload gave    " + actual +
           "\nThe file was deleted and nothing was installed.\n";
}

TEST(Download, VerifiedArchiveStaysWithItsDigest)
{
    const std::string path = fresh_path("normal");
    program_run run = download(server_url("TRUSTED", "/normal"), path, server_value("SHA256_NORMAL"), "normal.zip");
    transcript parsed = parse_transcript(run.output, "normal.zip");
    EXPECT_EQ(parsed.done_kb, expected_kb("NORMAL"));
    EXPECT_EQ(parsed.verdict, "Checksum verified for normal.zip.\n");
    expect_progress_rhythm(parsed);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(file_digest(path), server_value("SHA256_NORMAL"));
    EXPECT_NE(server_request_log().find("/normal\tQuillbyOfflineTest/1"), std::string::npos)
        << "the request must carry the course's user agent";
}

TEST(Download, RedirectIsFollowedToTheArchive)
{
    const std::string path = fresh_path("redirect");
    program_run run = download(server_url("TRUSTED", "/redirect"), path, server_value("SHA256_NORMAL"), "moved.zip");
    EXPECT_EQ(parse_transcript(run.output, "moved.zip").verdict, "Checksum verified for moved.zip.\n");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(file_digest(path), server_value("SHA256_NORMAL"));
}

TEST(Download, EmptyBodyPassesOnlyForTheDigestOfNoData)
{
    const std::string path = fresh_path("empty");
    program_run run = download(server_url("TRUSTED", "/empty"), path, EMPTY_DIGEST, "empty.zip");
    EXPECT_EQ(run.output, text_mode("Downloading empty.zip ... \rDownloading empty.zip ... 0 KB, done.          \n"
                                    "Checksum verified for empty.zip.\n"));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(file_exists(path));

    const std::string other = server_value("SHA256_NORMAL");
    run = download(server_url("TRUSTED", "/empty"), path, other, "empty.zip");
    EXPECT_EQ(run.output, text_mode("Downloading empty.zip ... \rDownloading empty.zip ... 0 KB, done.          \n" +
                                    check_failed("empty.zip", other, EMPTY_DIGEST)));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(path));
}

TEST(Download, ExactHalfMegabyteInFullReadsPrintsOneProgressLine)
{
    const std::string path = fresh_path("exact512k");
    program_run run =
        download(server_url("TRUSTED", "/exact512k"), path, server_value("SHA256_EXACT512K"), "half.zip");
    // A first read of a full 16384 bytes prints nothing; the 32nd prints 512 KB.
    EXPECT_EQ(run.output, text_mode("Downloading half.zip ... \rDownloading half.zip ... 512 KB"
                                    "\rDownloading half.zip ... 512 KB, done.          \n"
                                    "Checksum verified for half.zip.\n"));
    EXPECT_EQ(run.exit_code, 0u);
}

// Wine's WinINet fills the whole 16384-byte buffer on every read but the
// last, so bodies of chosen sizes, served from files the test writes, put
// the short read where each case needs it.
std::string serve_file(const char *name, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i++)
        bytes[i] = (uint8_t)(i * 131 + i / 7);
    FILE *file = fopen((std::string("..\\served-files\\") + name).c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file) {
        EXPECT_EQ(fwrite(bytes.data(), 1, size, file), size);
        fclose(file);
    }
    char text[65];
    sha256_hex(bytes.data(), size, text);
    return text;
}

TEST(Download, ProgressFollowsTheRunningTotal)
{
    struct {
        const char *name;
        size_t size;
        const char *lines; // the progress lines and the closing line, as printed
    } cases[] = {
        // A first read under 1 KB prints 0 KB at once.
        {"tiny.zip", 500, "\rDownloading tiny.zip ... 0 KB\rDownloading tiny.zip ... 0 KB"},
        // A first read of exactly 16384 bytes prints nothing.
        {"one.zip", 16384, "\rDownloading one.zip ... 16 KB"},
        // Two reads in a row within 16384 bytes past 512 KB both print.
        {"past.zip", 524288 + 5000,
         "\rDownloading past.zip ... 512 KB\rDownloading past.zip ... 516 KB\rDownloading past.zip ... 516 KB"},
    };
    for (const auto &c : cases) {
        const std::string digest = serve_file(c.name, c.size);
        const std::string path = fresh_path(c.name);
        program_run run = download(server_url("TRUSTED", std::string("/files/") + c.name), path, digest, c.name);
        EXPECT_EQ(run.output, text_mode(std::string("Downloading ") + c.name + " ... " + c.lines + DONE_PADDING +
                                        "Checksum verified for " + c.name + ".\n"));
        EXPECT_EQ(run.exit_code, 0u) << c.name;
        EXPECT_EQ(file_digest(path), digest) << c.name;
    }
}

// A request for the rest names the archive it continues, by the server's
// entity tag or else by a Last-Modified long before its Date, as WinINet
// reads them; the rest is then taken as the file's.
TEST(Download, ResumedRequestNamesTheArchive)
{
    const std::string digest = serve_file("named.zip", 300000);
    const std::string cut = "bytes=" + std::to_string(300000 / 2 / 16384 * 16384) + "-";
    struct {
        const char *validator, *named;
    } cases[] = {
        {"etag", "\"flaky-1\""},
        {"date", "Sat, 01 Jun 2024 12:00:00 GMT"},
    };
    for (const auto &c : cases) {
        const std::string target = std::string("/flaky/named.zip?validator=") + c.validator;
        const std::string path = fresh_path(c.validator);
        program_run run = download(server_url("TRUSTED", target), path, digest, "named.zip");
        EXPECT_EQ(parse_transcript(run.output, "named.zip").verdict, "Checksum verified for named.zip.\n")
            << c.validator;
        EXPECT_EQ(run.exit_code, 0u) << c.validator;
        EXPECT_NE(server_request_log().find(target + "\tQuillbyOfflineTest/1\t" + cut + "\t" + c.named + "\n"),
                  std::string::npos)
            << c.validator << ":\n" << server_request_log();
    }
}

TEST(Download, TricklingBodyArrivesWhole)
{
    const std::string path = fresh_path("drip");
    program_run run = download(server_url("TRUSTED", "/drip"), path, server_value("SHA256_DRIP"), "drip.zip");
    transcript parsed = parse_transcript(run.output, "drip.zip");
    expect_progress_rhythm(parsed);
    EXPECT_EQ(parsed.done_kb, expected_kb("DRIP"));
    EXPECT_EQ(parsed.verdict, "Checksum verified for drip.zip.\n");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(file_digest(path), server_value("SHA256_DRIP"));
}

TEST(Download, PinMustMatchExactly)
{
    const std::string actual = server_value("SHA256_NORMAL");
    std::string upper = actual;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    for (const std::string &expected : {upper, actual + " "}) {
        const std::string path = fresh_path("pin");
        program_run run = download(server_url("TRUSTED", "/normal"), path, expected, "pinned.zip");
        EXPECT_EQ(parse_transcript(run.output, "pinned.zip").verdict, check_failed("pinned.zip", expected, actual));
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_FALSE(file_exists(path));
    }
}

TEST(Download, ErrorPageAndCutTransferAreRefusedAndDeleted)
{
    std::string path = fresh_path("error");
    const std::string pin = server_value("SHA256_NORMAL");
    program_run run = download(server_url("TRUSTED", "/error"), path, pin, "error.zip");
    EXPECT_EQ(run.output, text_mode("Downloading error.zip ... \rDownloading error.zip ... 0 KB"
                                    "\rDownloading error.zip ... 0 KB, done.          \n" +
                                    check_failed("error.zip", pin, server_value("SHA256_ERROR"))));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(path));

    // A server that ignores Range and cuts every answer at the same byte:
    // every fresh request starts over and breaks again.
    path = fresh_path("cut");
    run = download(server_url("TRUSTED", "/cut"), path, server_value("SHA256_CUT"), "cut.zip");
    transcript parsed = parse_transcript(run.output, "cut.zip");
    EXPECT_EQ(parsed.done_kb, atoll(server_value("SIZE_CUT_PART").c_str()) / 1024);
    EXPECT_EQ(parsed.verdict, "The connection kept breaking off while downloading cut.zip. Run this setup again when "
                              "the connection is steadier.\n" +
                                  check_failed("cut.zip", server_value("SHA256_CUT"), server_value("SHA256_CUT_PART")));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(path));
}

// Before the transfer starts, a failure leaves the disk exactly as it was.
TEST(Download, RefusedConnectionsTouchNothing)
{
    const std::string path = fresh_path("refused");
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs("an earlier copy", file);
    fclose(file);
    const std::string earlier = file_digest(path);
    const std::string pin = server_value("SHA256_NORMAL");
    for (const std::string &url : {std::string("https://localhost:1/normal"), server_url("WRONG_NAME", "/normal"),
                                   server_url("UNTRUSTED", "/normal")}) {
        program_run run = download(url, path, pin, "refused.zip");
        EXPECT_EQ(run.output, text_mode(UNREACHABLE)) << url;
        EXPECT_EQ(run.exit_code, 1u) << url;
        EXPECT_EQ(file_digest(path), earlier) << url;
    }
}

TEST(Download, UncreatableFileTouchesNothingElse)
{
    program_run run = download(server_url("TRUSTED", "/normal"), "no_such_folder\\archive.zip",
                               server_value("SHA256_NORMAL"), "archive.zip");
    EXPECT_EQ(run.output, text_mode("Could not write the download file.\n"));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists("no_such_folder"));
}

// A full disk must not leave a truncated archive behind that the digest of
// the network bytes would vouch for. The fixture mounts a 64 KiB file system
// at ..\\small-fs, too small for any body here. An archive whose length the
// server announces is not begun: the learner is told what to free, and the
// earlier copy stays. One with no length (a body that never ends) stops at
// the first failed write, and nothing of it stays.
TEST(Download, NoRoomIsToldBeforeTheTransferAndAFailedWriteEndsIt)
{
    const std::string announced = "..\\small-fs\\full.zip";
    ASSERT_TRUE(write_file(announced, "earlier copy"));
    program_run run = download(server_url("TRUSTED", "/normal"), announced, server_value("SHA256_NORMAL"), "full.zip");
    const std::string line = run.output;
    EXPECT_EQ(line.rfind("Not enough free space on ", 0), 0u) << line;
    size_t needs = line.find(" for full.zip: it needs ");
    ASSERT_NE(needs, std::string::npos) << line;
    EXPECT_GE(atoi(line.c_str() + needs + strlen(" for full.zip: it needs ")), 4) << "the margin counts";
    EXPECT_NE(line.find(" MB more. Free some space, then run this setup again."), std::string::npos) << line;
    EXPECT_EQ(line.find("Downloading"), std::string::npos) << "nothing was begun";
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(read_file(announced), "earlier copy");
    DeleteFileA(announced.c_str());

    const std::string endless = "..\\small-fs\\endless.zip";
    run = download(server_url("TRUSTED", "/endless"), endless, server_value("SHA256_NORMAL"), "endless.zip");
    transcript parsed = parse_transcript(run.output, "endless.zip");
    EXPECT_GE(parsed.done_kb, 32);
    EXPECT_LT(parsed.done_kb, 64 + 32) << "the transfer stops at the first failed write";
    EXPECT_EQ(parsed.verdict, "Could not write the download file.\n");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(endless));
}

// What an update names comes with its size: a body past it, announced or
// endless, ends the download and leaves nothing; the update's document is
// read no further than its bound, nor for longer than its limit.
TEST(Download, AnUpdatesFileEndsAtItsSizeAndItsDocumentAtItsBound)
{
    const std::string path = fresh_path("bounded");
    const std::string normal_size = server_value("SIZE_NORMAL");
    program_run run = download(server_url("TRUSTED", "/normal"), path, server_value("SHA256_NORMAL"), "bounded.zip",
                               std::to_string(atoll(normal_size.c_str()) - 1));
    EXPECT_EQ(run.output.find("bounded.zip is larger than the " + std::to_string(atoll(normal_size.c_str()) - 1) +
                              " bytes it should be; nothing was downloaded."),
              0u)
        << run.output;
    EXPECT_EQ(run.exit_code, 1u);
    run = download(server_url("TRUSTED", "/normal"), path, server_value("SHA256_NORMAL"), "bounded.zip", normal_size);
    EXPECT_EQ(run.exit_code, 0u) << run.output;

    run = download(server_url("TRUSTED", "/endless"), path, server_value("SHA256_NORMAL"), "bounded.zip", "1048576");
    EXPECT_NE(run.output.find("bounded.zip is larger than the 1048576 bytes it should be; the download was deleted."),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(path));

    // The driver's own lines end as its console's do.
    program_run document;
    std::string driver = "\"" + beside_test_program("download_driver.exe") + "\" --document ";
    ASSERT_EQ(run_captured(driver + server_url("TRUSTED", "/endless"), &document), 0);
    document.output.erase(std::remove(document.output.begin(), document.output.end(), '\r'), document.output.end());
    EXPECT_EQ(document.output, "It holds more than 16384 bytes.\nfetched 2, 16385 bytes\n");
    ASSERT_EQ(run_captured(driver + server_url("TRUSTED", "/error"), &document), 0);
    document.output.erase(std::remove(document.output.begin(), document.output.end(), '\r'), document.output.end());
    EXPECT_EQ(document.output, "The server answered 404.\nfetched 1, 0 bytes\n");
    // A byte every three seconds: given up on at the limit, not at its end.
    ASSERT_EQ(run_captured(driver + server_url("TRUSTED", "/slow-drip") + " 2000", &document), 0);
    document.output.erase(std::remove(document.output.begin(), document.output.end(), '\r'), document.output.end());
    EXPECT_EQ(document.output.find("It was still coming after 2 seconds.\nfetched 1, "), 0u) << document.output;
}

// Wine's WinINet follows a redirect from https to plain http without a word
// (Windows refuses one); the download refuses it either way, before anything
// is written.
TEST(Download, RedirectToPlainHttpIsRefused)
{
    const std::string path = fresh_path("to_plain");
    program_run run = download(server_url("TRUSTED", "/to-plain"), path, server_value("SHA256_NORMAL"), "plain.zip");
    EXPECT_EQ(run.output, text_mode(UNREACHABLE));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_FALSE(file_exists(path));
    EXPECT_NE(server_request_log().find("plain\tGET\t/normal"), std::string::npos)
        << "the redirect was followed, so the refusal is the program's own";
}

}  // namespace
