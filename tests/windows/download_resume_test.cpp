// The download's decisions in-process, against a fake WinINet table playing
// scripted answers: breaks (a failed read, a body short of its length), each
// answer to the request for the rest and the archive that request names,
// the requests running out, failures never retried, and a copy beside the
// setup. No pauses, no server.
#include <gtest/gtest.h>
#include <windows.h>
#include <io.h>
#include <limits.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download/download_seam.h"
#include "download/fetch_archive.h"
#include "sha256.h"
#include "test_support.h"

namespace {

const char URL[] = "https://courses.example/a.zip";
const size_t SIZE = 600000, CUT = 20 * 16384; // a cut on a read boundary

// One answer: its status, the archive's bytes [from, to) as its body, its
// Content-Length (-1: none) and Content-Range ("": none), then the end or a
// reset; or the error that keeps it from opening; where it ended up; and
// the validators it names the archive by.
struct answer {
    DWORD status;
    size_t from, to;
    long long length;
    std::string range;
    bool reset = false;
    DWORD open_error = 0;
    const char *final_url = URL;
    std::string etag = "", modified = "", date = "";
    size_t sent = 0;
};
std::string content_range(size_t from, size_t to, const std::string &total = std::to_string(SIZE))
{
    return "bytes " + std::to_string(from) + "-" + std::to_string(to - 1) + "/" + total;
}
answer whole() { return {200, 0, SIZE, (long long)SIZE, ""}; }
answer cut(bool reset, size_t to = CUT)
{
    answer a = {200, 0, to, (long long)SIZE, ""};
    a.reset = reset;
    return a;
}
// The rest from byte from as a server that honours Range sends it, its body
// cut off at to.
answer rest(size_t from, size_t to = SIZE)
{
    return {206, from, to, (long long)(SIZE - from), content_range(from, SIZE)};
}
// A rest whose Content-Range and Content-Length are these.
answer rest_saying(size_t from, size_t to, const std::string &range, long long length)
{
    return {206, from, to, length, range};
}
// An error page, a hundred bytes that must never reach the file.
answer page(DWORD status) { return {status, 0, 100, 100, ""}; }
answer refused(DWORD error)
{
    answer a = {0, 0, 0, -1, ""};
    a.open_error = error;
    return a;
}
answer named(answer a, const std::string &etag, const std::string &modified = "", const std::string &date = "")
{
    a.etag = etag;
    a.modified = modified;
    a.date = date;
    return a;
}

struct fake_server {
    std::vector<answer> answers;
    std::vector<std::string> requests; // each request's extra headers
    int open_handles;
};
// WinINet's entry points carry no context: the fake plays the running test's.
fake_server *serving;

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

HINTERNET WINAPI fake_open(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD) { return serving->open_handles++, serving; }
BOOL WINAPI fake_set_option(HINTERNET, DWORD, LPVOID, DWORD) { return TRUE; }
BOOL WINAPI fake_close(HINTERNET) { return serving->open_handles--, TRUE; }

HINTERNET WINAPI fake_open_url(HINTERNET, LPCSTR, LPCSTR headers, DWORD, DWORD, DWORD_PTR)
{
    serving->requests.push_back(headers ? headers : "");
    const size_t at = serving->requests.size() - 1;
    answer *a = at < serving->answers.size() ? &serving->answers[at] : NULL;
    DWORD error = a ? a->open_error : ERROR_INTERNET_CANNOT_CONNECT;
    if (error)
        return SetLastError(error), (HINTERNET)NULL;
    return serving->open_handles++, a;
}

BOOL WINAPI fake_read(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD got)
{
    answer *a = (answer *)request;
    *got = (DWORD)std::min<size_t>(a->to - a->from - a->sent, size);
    if (*got == 0 && a->reset)
        return SetLastError(ERROR_INTERNET_CONNECTION_RESET), FALSE;
    memcpy(buffer, archive().data() + a->from + a->sent, *got);
    a->sent += *got;
    return TRUE;
}

BOOL give_text(const std::string &text, LPVOID value, LPDWORD length)
{
    if (text.empty())
        return SetLastError(ERROR_HTTP_HEADER_NOT_FOUND), FALSE;
    if (text.size() + 1 > *length)
        return *length = (DWORD)text.size() + 1, SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    memcpy(value, text.c_str(), text.size() + 1);
    return *length = (DWORD)text.size(), TRUE;
}

// An HTTP-date as WinINet hands it over for HTTP_QUERY_FLAG_SYSTEMTIME.
BOOL give_time(const std::string &date, LPVOID value, LPDWORD length)
{
    SYSTEMTIME time = {};
    char month[4] = "";
    if (date.empty() || sscanf(date.c_str(), "%*3s, %hu %3s %hu %hu:%hu:%hu GMT", &time.wDay, month, &time.wYear,
                               &time.wHour, &time.wMinute, &time.wSecond) != 6)
        return SetLastError(ERROR_HTTP_HEADER_NOT_FOUND), FALSE;
    time.wMonth = (WORD)(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(month) / 3 + 1);
    EXPECT_EQ(*length, sizeof time);
    memcpy(value, &time, sizeof time);
    return TRUE;
}

BOOL WINAPI fake_query_option(HINTERNET request, DWORD, LPVOID value, LPDWORD length)
{
    return give_text(((answer *)request)->final_url, value, length);
}

BOOL WINAPI fake_query_info(HINTERNET request, DWORD what, LPVOID value, LPDWORD length, LPDWORD)
{
    const answer *a = (answer *)request;
    switch (what) {
    case HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER:
        return *(DWORD *)value = a->status, TRUE;
    case HTTP_QUERY_CONTENT_LENGTH:
        return give_text(a->length < 0 ? "" : std::to_string(a->length), value, length);
    case HTTP_QUERY_CONTENT_RANGE:
        return give_text(a->range, value, length);
    case HTTP_QUERY_ETAG:
        return give_text(a->etag, value, length);
    case HTTP_QUERY_LAST_MODIFIED:
        return give_text(a->modified, value, length);
    case HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME:
        return give_time(a->modified, value, length);
    case HTTP_QUERY_DATE | HTTP_QUERY_FLAG_SYSTEMTIME:
        return give_time(a->date, value, length);
    }
    ADD_FAILURE() << "asked for header " << what;
    return SetLastError(ERROR_HTTP_HEADER_NOT_FOUND), FALSE;
}

const wininet_library FAKE = {NULL, fake_open, fake_open_url, fake_read, fake_set_option, fake_query_option,
                              fake_query_info, fake_close};
const retry_pauses NO_PAUSES = {{0, 0, 0}};
// Each test its own file: CTest may run them side by side.
const char PATH[] = "download_resume_answers.zip";
const char BESIDE_PATH[] = "download_resume_beside.zip";

// Standard output, the C runtime's and the handle the console code checks,
// captured while body runs.
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

std::string file_or_none(const std::string &path) { return file_exists(path) ? read_file(path) : "(none)"; }

int download(fake_server &server, std::string *printed)
{
    DeleteFileA(PATH);
    serving = &server;
    int result = 2;
    const std::string pin = digest_of(archive());
    *printed = printed_by([&] { result = download_over(&FAKE, &NO_PAUSES, URL, PATH, pin.c_str(), ULLONG_MAX, "a.zip"); });
    EXPECT_EQ(server.open_handles, 0) << "every handle is closed";
    return result;
}

std::string check_failed(const std::string &actual)
{
    return "CHECK FAILED for a.zip.\nExpected checksum " + digest_of(archive()) + "\nDownload gave    " + actual +
           "\nThe file was deleted and nothing was installed.\n";
}

TEST(DownloadResume, EachAnswerDecidesWhatComesNext)
{
    fake_server plain = {{whole()}, {}, 0};
    std::string unbroken;
    ASSERT_EQ(download(plain, &unbroken), 0);
    const std::string kept = "The connection kept breaking off while downloading a.zip. Run this setup again when the "
                             "connection is steadier.\n";
    const std::string spent = "\rDownloading a.zip ... 320 KB, done.          \n" + kept +
                              check_failed(digest_of(archive().substr(0, CUT)));
    answer to_plain = rest(CUT);
    to_plain.final_url = "http://courses.example/a.zip";
    const size_t MORE = CUT + 5 * 16384;
    const answer short_rest = rest_saying(CUT, MORE, content_range(CUT, MORE), MORE - CUT);
    answer unmeasured = cut(true);
    unmeasured.length = -1;
    const std::string from_cut = "Range: bytes=" + std::to_string(CUT) + "-\r\n",
                      from_more = "Range: bytes=" + std::to_string(MORE) + "-\r\n";
    // Last-Modified a minute before Date is a strong validator; a second later it is not.
    const std::string earlier = "Sat, 01 Jun 2024 12:00:00 GMT", recent = "Sat, 01 Jun 2024 12:00:01 GMT",
                      sent = "Sat, 01 Jun 2024 12:01:00 GMT", long_tag = "\"" + std::string(200, 'a') + "\"";
    struct {
        const char *what;
        std::vector<answer> answers;
        size_t requests;
        std::string last_request, ending; // ending "": passes with the unbroken transcript
    } cases[] = {
        // Breaks, and the rest that continues the file.
        {"read fails, the rest continues", {cut(true), rest(CUT)}, 2, from_cut, ""},
        {"body short, the rest continues", {cut(false), rest(CUT)}, 2, from_cut, ""},
        {"breaks inside the rest", {cut(true), rest(CUT, MORE), rest(MORE)}, 3, from_more, ""},
        {"rest ends short of the file", {cut(true), short_rest, rest(MORE)}, 3, from_more, ""},
        {"no length at first, the rest's total", {unmeasured, short_rest, rest(MORE)}, 3, from_more, ""},
        {"reset once all is in", {cut(true, SIZE)}, 1, "", ""},
        {"no length, nothing to be short of", {answer{200, 0, CUT, -1, ""}}, 1, "",
         "\rDownloading a.zip ... 320 KB, done.          \n" + check_failed(digest_of(archive().substr(0, CUT)))},
        // The answer to a request for the rest: a 200 starts over, anything
        // but that very rest is a break that never reaches the file.
        {"200 starts over", {cut(true), whole()}, 2, from_cut, ""},
        {"503 page", {cut(true), page(503), rest(CUT)}, 3, from_cut, ""},
        {"416", {cut(true), page(416), rest(CUT)}, 3, from_cut, ""},
        {"206 from elsewhere", {cut(true), rest(0), rest(CUT)}, 3, from_cut, ""},
        // Without a Content-Length, only the Content-Range's start tells.
        {"206 from before, no Content-Length", {cut(true), rest_saying(0, SIZE, content_range(0, SIZE), -1), rest(CUT)},
         3, from_cut, ""},
        {"206 from after, no Content-Length",
         {cut(true), rest_saying(MORE, SIZE, content_range(MORE, SIZE), -1), rest(CUT)}, 3, from_cut, ""},
        {"206 with no Content-Range", {cut(true), rest_saying(CUT, SIZE, "", SIZE - CUT), rest(CUT)}, 3, from_cut,
         ""},
        {"206 of another total",
         {cut(true), rest_saying(CUT, SIZE, content_range(CUT, SIZE, std::to_string(SIZE + 1)), SIZE - CUT),
          rest(CUT)},
         3, from_cut, ""},
        {"206 of an unknown total", {cut(true), rest_saying(CUT, SIZE, content_range(CUT, SIZE, "*"), -1), rest(CUT)},
         3, from_cut, ""},
        {"206 ending past its total", {cut(true), rest_saying(CUT, SIZE, content_range(CUT, SIZE + 1), -1), rest(CUT)},
         3, from_cut, ""},
        {"206 longer than its range",
         {cut(true), rest_saying(CUT, SIZE, content_range(CUT, SIZE), SIZE - CUT + 1), rest(CUT)}, 3, from_cut, ""},
        {"every answer an error page", {cut(true), page(503), page(502), page(503)}, 4, from_cut, spent},
        // The archive the rest must be of, named in If-Range.
        {"strong ETag", {named(cut(true), "\"v1\""), rest(CUT)}, 2, from_cut + "If-Range: \"v1\"\r\n", ""},
        {"a 200 names its own", {named(cut(true), "\"v1\""), named(cut(false), "\"v2\""), rest(CUT)}, 3,
         from_cut + "If-Range: \"v2\"\r\n", ""},
        {"no ETag, a strong date", {named(cut(true), "", earlier, sent), rest(CUT)}, 2,
         from_cut + "If-Range: " + earlier + "\r\n", ""},
        {"no ETag, a weak date", {named(cut(true), "", recent, sent), rest(CUT)}, 2, from_cut, ""},
        {"weak ETag, no date either", {named(cut(true), "W/\"v1\"", earlier, sent), rest(CUT)}, 2, from_cut, ""},
        {"ETag too long to keep, no date either", {named(cut(true), long_tag, earlier, sent), rest(CUT)}, 2,
         from_cut, ""},
        // Requests that run out, or may not be made again.
        {"breaks every time", {cut(true), cut(false), cut(true), cut(false), whole()}, 4, from_cut, spent},
        {"cannot connect again", {cut(true)}, 4, from_cut, spent},
        {"untrusted certificate", {cut(true), refused(ERROR_INTERNET_INVALID_CA), rest(CUT)}, 2, from_cut, spent},
        {"redirect to http", {cut(true), to_plain, rest(CUT)}, 2, from_cut, spent},
        {"untrusted at once", {refused(ERROR_INTERNET_INVALID_CA), whole()}, 1, "",
         "Could not reach the download address. Check the internet connection and try again.\n"},
    };
    for (auto &c : cases) {
        fake_server server = {c.answers, {}, 0};
        std::string printed;
        int result = download(server, &printed);
        EXPECT_EQ(server.requests.size(), c.requests) << c.what;
        EXPECT_EQ(server.requests.back(), c.last_request) << c.what;
        EXPECT_EQ(result, c.ending.empty() ? 0 : 1) << c.what;
        EXPECT_EQ(file_or_none(PATH), c.ending.empty() ? archive() : "(none)") << c.what;
        if (c.ending.empty())
            EXPECT_EQ(printed, unbroken) << c.what << ": a resumed download reads as an unbroken one";
        else
            EXPECT_EQ(printed.substr(printed.size() - std::min(printed.size(), c.ending.size())), c.ending) << c.what;
    }
}

// A copy beside the setup is taken when it passes its pin, else left as it
// was with one line; nothing is said when there is none, or when it is the
// download file itself.
TEST(DownloadResume, CopyBesideTheSetupIsOnlyRead)
{
    const std::string folder = current_folder() + "\\beside-setup", copy = folder + "\\a.zip";
    const std::string bytes = archive().substr(0, 500), lines = "Found a.zip beside this setup: " + copy +
                                                                "\nCopying a.zip ... \rCopying a.zip ... 0 KB"
                                                                "\rCopying a.zip ... 0 KB, done.          \n";
    CreateDirectoryA(folder.c_str(), NULL);
    FILE *file = fopen(copy.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    struct {
        std::string url, pin, path;
        int result;
        std::string printed;
    } cases[] = {
        {std::string(URL) + "?v=2", digest_of(bytes), BESIDE_PATH, 0, lines + "Checksum verified for a.zip.\n"},
        {URL, digest_of(archive()), BESIDE_PATH, 1,
         lines + "The copy beside this setup does not match its checksum; downloading a.zip instead.\n"},
        {"https://courses.example/b.zip", digest_of(bytes), BESIDE_PATH, 1, ""},
        {URL, digest_of(bytes), copy, 1, ""},
    };
    for (const auto &c : cases) {
        DeleteFileA(BESIDE_PATH);
        int result = 2;
        std::string printed = printed_by([&] {
            result = take_from_beside(folder.c_str(), c.url.c_str(), c.path.c_str(), c.pin.c_str(), "a.zip");
        });
        EXPECT_EQ(result, c.result) << c.url;
        EXPECT_EQ(printed, c.printed) << c.url;
        EXPECT_EQ(file_or_none(BESIDE_PATH), c.result == 0 ? bytes : "(none)") << c.url;
        EXPECT_EQ(read_file(copy), bytes) << "the copy beside the setup is unchanged";
    }
}

}  // namespace
