// The download's decisions in-process, against a fake WinINet table that
// plays scripted answers: a break (a failed read, a body short of its
// Content-Length), what each answer to the request for the rest does, the
// requests running out, the failures never retried, and a copy beside the
// setup. No pauses, no server: milliseconds.
#include <gtest/gtest.h>
#include <windows.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download_seam.h"
#include "fetch_archive.h"
#include "sha256.h"
#include "test_support.h"

namespace {

const char URL[] = "https://courses.example/files/a.zip";

// One answer of the fake server, in the order the requests come.
struct answer {
    DWORD open_error = 0; // InternetOpenUrlA fails with it when set
    std::string final_url = URL;
    DWORD status = 200;
    std::string content_length, content_range; // "" when not sent
    std::string body;
    bool read_fails_at_end = false; // the connection resets after the body, else it ends there
    size_t sent = 0;
};

struct fake_server {
    std::vector<answer> answers;
    size_t next = 0;
    std::vector<std::string> requests; // each request's extra headers
    int open_handles = 0;
};

// WinINet's entry points carry no context of their own: the fake reads the
// script of the test that runs.
fake_server *serving;

HINTERNET WINAPI fake_open(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    serving->open_handles++;
    return serving;
}

HINTERNET WINAPI fake_open_url(HINTERNET, LPCSTR, LPCSTR headers, DWORD, DWORD, DWORD_PTR)
{
    serving->requests.push_back(headers ? headers : "");
    if (serving->next == serving->answers.size()) {
        SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
        return NULL;
    }
    answer *a = &serving->answers[serving->next++];
    if (a->open_error) {
        SetLastError(a->open_error);
        return NULL;
    }
    serving->open_handles++;
    return a;
}

BOOL WINAPI fake_read(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD got)
{
    answer *a = (answer *)request;
    *got = (DWORD)std::min<size_t>(a->body.size() - a->sent, size);
    if (*got == 0 && a->read_fails_at_end) {
        SetLastError(ERROR_INTERNET_CONNECTION_RESET);
        return FALSE;
    }
    memcpy(buffer, a->body.data() + a->sent, *got);
    a->sent += *got;
    return TRUE;
}

BOOL WINAPI fake_set_option(HINTERNET, DWORD, LPVOID, DWORD)
{
    return TRUE;
}

BOOL give_text(const std::string &text, LPVOID value, LPDWORD length)
{
    if (text.empty()) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (text.size() + 1 > *length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(value, text.c_str(), text.size() + 1);
    *length = (DWORD)text.size();
    return TRUE;
}

BOOL WINAPI fake_query_option(HINTERNET request, DWORD option, LPVOID value, LPDWORD length)
{
    EXPECT_EQ(option, (DWORD)INTERNET_OPTION_URL);
    return give_text(((answer *)request)->final_url, value, length);
}

BOOL WINAPI fake_query_info(HINTERNET request, DWORD what, LPVOID value, LPDWORD length, LPDWORD)
{
    answer *a = (answer *)request;
    if (what == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) && *length >= sizeof(DWORD)) {
        *(DWORD *)value = a->status;
        *length = sizeof(DWORD);
        return TRUE;
    }
    if (what == HTTP_QUERY_CONTENT_LENGTH)
        return give_text(a->content_length, value, length);
    if (what == HTTP_QUERY_CONTENT_RANGE)
        return give_text(a->content_range, value, length);
    ADD_FAILURE() << "unexpected query " << what;
    return FALSE;
}

BOOL WINAPI fake_close(HINTERNET)
{
    serving->open_handles--;
    return TRUE;
}

const wininet_library FAKE = {NULL,          fake_open,         fake_open_url,   fake_read,
                              fake_set_option, fake_query_option, fake_query_info, fake_close};
const retry_pauses NO_PAUSES = {{0, 0, 0}};

const size_t SIZE = 600000;
// On a read boundary, so the reads after a break line up as unbroken ones.
const size_t BREAK_AT = 20 * 16384;

const std::string &archive()
{
    static std::string bytes;
    for (size_t i = bytes.size(); i < SIZE; i++)
        bytes += (char)(i * 131 + i / 7);
    return bytes;
}

std::string digest_of(const std::string &bytes)
{
    char text[65];
    sha256_hex(bytes.data(), bytes.size(), text);
    return text;
}

answer whole()
{
    answer a;
    a.content_length = std::to_string(SIZE);
    a.body = archive();
    return a;
}

// The first BREAK_AT bytes of a 200 that announced them all: the body ends
// short, or a read fails.
answer broken(bool read_fails)
{
    answer a = whole();
    a.body.resize(BREAK_AT);
    a.read_fails_at_end = read_fails;
    return a;
}

answer partial(size_t from, size_t to)
{
    answer a;
    a.status = 206;
    a.content_range = "bytes " + std::to_string(from) + "-" + std::to_string(SIZE - 1) + "/" + std::to_string(SIZE);
    a.content_length = std::to_string(to - from);
    a.body = archive().substr(from, to - from);
    return a;
}

struct outcome {
    int result;
    std::string printed;
    std::string file; // "(none)" when there is no file
};

// Standard output, the C runtime's and the handle the console code checks,
// goes to GoogleTest's capture while body runs.
template <typename body_type> std::string printed_by(body_type body)
{
    testing::internal::CaptureStdout();
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, (HANDLE)_get_osfhandle(1));
    body();
    fflush(stdout);
    SetStdHandle(STD_OUTPUT_HANDLE, console);
    return testing::internal::GetCapturedStdout();
}

std::string file_or_none(const std::string &path)
{
    return file_exists(path) ? read_file(path) : "(none)";
}

outcome download(fake_server &server, const std::string &expected = digest_of(archive()))
{
    const std::string path = "download_resume_test.zip";
    DeleteFileA(path.c_str());
    serving = &server;
    outcome out;
    out.printed = printed_by([&] {
        out.result = download_over(&FAKE, &NO_PAUSES, URL, path.c_str(), expected.c_str(), "a.zip");
    });
    out.file = file_or_none(path);
    EXPECT_EQ(server.open_handles, 0) << "every handle is closed";
    return out;
}

std::string unbroken_transcript()
{
    fake_server server;
    server.answers = {whole()};
    return download(server).printed;
}

const char RANGE_REST[] = "Range: bytes=327680-\r\n";
const char KEPT_BREAKING[] = "The connection kept breaking off while downloading a.zip. "
                             "Run this setup again when the connection is steadier.\n";

std::string check_failed(const std::string &actual)
{
    return "CHECK FAILED for a.zip.\nExpected checksum " + digest_of(archive()) + "\nDownload gave    " + actual +
           "\nThe file was deleted and nothing was installed.\n";
}

TEST(DownloadResume, BreakIsContinuedByTheRestWithTheSameDigest)
{
    for (bool read_fails : {true, false}) {
        fake_server server;
        server.answers = {broken(read_fails), partial(BREAK_AT, SIZE)};
        outcome out = download(server);
        EXPECT_EQ(out.result, 0) << read_fails;
        EXPECT_EQ(out.file, archive()) << read_fails;
        EXPECT_EQ(out.printed, unbroken_transcript()) << "a resumed download reads as an unbroken one";
        EXPECT_EQ(server.requests, (std::vector<std::string>{"", RANGE_REST})) << read_fails;
    }
    // Broken twice, the second time inside the rest: asked from there.
    fake_server server;
    answer rest = partial(BREAK_AT, SIZE);
    rest.body.resize(100000);
    server.answers = {broken(true), rest, partial(BREAK_AT + 100000, SIZE)};
    outcome out = download(server);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.file, archive());
    EXPECT_EQ(server.requests,
              (std::vector<std::string>{"", RANGE_REST, "Range: bytes=" + std::to_string(BREAK_AT + 100000) + "-\r\n"}));
}

// A body that ends with no length announced has nothing to be short of, and
// a reset after every byte announced has taken nothing: no fresh request.
TEST(DownloadResume, BodyEndsWhereItsLengthSays)
{
    fake_server server;
    server.answers = {broken(false)};
    server.answers[0].content_length = "";
    outcome out = download(server);
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(out.result, 1);
    EXPECT_NE(out.printed.find("\nCHECK FAILED"), std::string::npos);
    EXPECT_EQ(out.printed.find(KEPT_BREAKING), std::string::npos);

    fake_server reset;
    reset.answers = {whole()};
    reset.answers[0].read_fails_at_end = true;
    out = download(reset);
    EXPECT_EQ(reset.requests.size(), 1u);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.file, archive());
}

// Anything but the rest asked for is the file anew from byte 0, with a fresh
// digest: had the earlier bytes stayed, none of these would pass or give the
// digest of the new body alone.
TEST(DownloadResume, AnyOtherAnswerStartsTheFileOver)
{
    answer ignored_range = whole();
    answer elsewhere = partial(0, SIZE);
    for (const answer &restart : {ignored_range, elsewhere}) {
        fake_server server;
        server.answers = {broken(true), restart};
        outcome out = download(server);
        EXPECT_EQ(out.result, 0) << restart.status;
        EXPECT_EQ(out.file, archive()) << restart.status;
        EXPECT_EQ(out.printed, unbroken_transcript()) << restart.status;
    }
    fake_server server;
    answer unsatisfiable;
    unsatisfiable.status = 416;
    unsatisfiable.body = "range not satisfiable\n";
    unsatisfiable.content_length = std::to_string(unsatisfiable.body.size());
    server.answers = {broken(true), unsatisfiable};
    outcome out = download(server);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.file, "(none)");
    EXPECT_NE(out.printed.find("\rDownloading a.zip ... 0 KB, done.          \n" +
                               check_failed(digest_of(unsatisfiable.body))),
              std::string::npos)
        << out.printed;
}

// Three fresh requests at most, whether they break again or cannot connect;
// then the plain words, the check that fails and no file.
TEST(DownloadResume, SpentRequestsSayTheConnectionKeptBreaking)
{
    const std::string partial_digest = digest_of(archive().substr(0, BREAK_AT));
    fake_server breaking;
    breaking.answers = {broken(true), broken(false), broken(true), broken(false), whole()};
    fake_server unreachable;
    unreachable.answers = {broken(true)};
    for (fake_server *server : {&breaking, &unreachable}) {
        outcome out = download(*server);
        EXPECT_EQ(server->requests.size(), 4u);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.file, "(none)");
        const std::string ending = "\rDownloading a.zip ... 320 KB, done.          \n" + std::string(KEPT_BREAKING) +
                                   check_failed(partial_digest);
        ASSERT_GE(out.printed.size(), ending.size());
        EXPECT_EQ(out.printed.substr(out.printed.size() - ending.size()), ending);
    }
}

// An untrusted certificate and a redirect to plain http stay so: the fresh
// request is the last one, as the first request's failure ends it all.
TEST(DownloadResume, CertificateAndPlainRedirectAreNeverRetried)
{
    answer untrusted;
    untrusted.open_error = ERROR_INTERNET_INVALID_CA;
    answer to_plain = partial(BREAK_AT, SIZE);
    to_plain.final_url = "http://courses.example/files/a.zip";
    for (const answer &refused : {untrusted, to_plain}) {
        fake_server server;
        server.answers = {broken(true), refused, partial(BREAK_AT, SIZE)};
        outcome out = download(server);
        EXPECT_EQ(server.requests.size(), 2u);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.file, "(none)");
    }
    fake_server server;
    server.answers = {untrusted, whole()};
    outcome out = download(server);
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(out.printed, "Could not reach the download address. Check the internet connection and try again.\n");
}

// A copy beside the setup: taken when it passes its pin, else left as it was
// with one line; nothing said when there is none, or when it is the download
// file itself.
TEST(DownloadResume, CopyBesideTheSetupIsOnlyRead)
{
    const std::string folder = current_folder() + "\\beside-setup";
    CreateDirectoryA(folder.c_str(), NULL);
    const std::string copy = folder + "\\a.zip", path = "download_resume_test.zip";
    FILE *file = fopen(copy.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(archive().data(), 1, 500, file);
    fclose(file);
    const std::string bytes = archive().substr(0, 500);
    struct {
        std::string url, expected;
        int result;
        std::string printed;
    } cases[] = {
        {std::string(URL) + "?v=2", digest_of(bytes), 0,
         "Found a.zip beside this setup: " + copy + "\nCopying a.zip ... \rCopying a.zip ... 0 KB"
         "\rCopying a.zip ... 0 KB, done.          \nChecksum verified for a.zip.\n"},
        {URL, digest_of(archive()), 1,
         "Found a.zip beside this setup: " + copy + "\nCopying a.zip ... \rCopying a.zip ... 0 KB"
         "\rCopying a.zip ... 0 KB, done.          \n" + check_failed(digest_of(bytes)) +
         "Not using a.zip beside this setup (it is left as it was); downloading it instead.\n"},
        {"https://courses.example/files/b.zip", digest_of(bytes), 1, ""},
    };
    for (const auto &c : cases) {
        DeleteFileA(path.c_str());
        int result = 2;
        std::string printed =
            printed_by([&] { result = take_from_beside(folder.c_str(), c.url.c_str(), path.c_str(), c.expected.c_str(), "a.zip"); });
        EXPECT_EQ(result, c.result) << c.url;
        EXPECT_EQ(printed, c.printed) << c.url;
        EXPECT_EQ(file_or_none(path), c.result == 0 ? bytes : "(none)") << c.url;
        EXPECT_EQ(read_file(copy), bytes) << "the copy beside the setup is unchanged";
    }
    int result = 2;
    std::string printed =
        printed_by([&] { result = take_from_beside(folder.c_str(), URL, copy.c_str(), digest_of(bytes).c_str(), "a.zip"); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(read_file(copy), bytes);
}

}  // namespace
