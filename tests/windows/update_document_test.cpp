// The update document's judgement and the update state, in process, on
// documents the course author's own tool signed (update_documents.h) and on
// Windows' own CNG (Wine's, through GnuTLS), or a table of the test's that
// answers as CNG does when it cannot verify.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "test_support.h"
#include "update/update_document.h"
#include "update/update_state.h"
#include "update_documents.h"

namespace {

const long long NOW = UPDATE_TEST_ISSUED + 3600;

class UpdateDocument : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(cng_load(&cng), 0) << "bcrypt.dll from the system folder"; }
    void TearDown() override { cng_unload(&cng); }

    // The course's trust: its pinned key and backup, installed at update 4.
    update_trust trust(unsigned long above = 4) const
    {
        update_trust made = {};
        const char *keys[] = {SIGNING_KEY, BACKUP_KEY};
        for (const char *key : keys)
            EXPECT_EQ(read_p256_hex(key, strlen(key), made.keys[made.keys_count++]), 0);
        made.course = UPDATE_TEST_COURSE;
        made.above_sequence = above;
        return made;
    }

    update_verdict judge(const std::string &document, const update_trust &by, update_document *read) const
    {
        return judge_update_document(&cng, document.data(), document.size(), &by, NOW, read);
    }

    update_verdict judge(const std::string &document) const
    {
        update_document read;
        return judge(document, trust(), &read);
    }

    cng_library cng;
};

TEST_F(UpdateDocument, TheAuthorsDocumentReadsWholeAndItsBackupKeySignsToo)
{
    update_document read;
    ASSERT_EQ(judge(GOOD_DOCUMENT, trust(), &read), UPDATE_ACCEPTED);
    EXPECT_EQ(read.sequence, 5ul);
    EXPECT_STREQ(read.version, "2.0");
    EXPECT_EQ(read.expires, UPDATE_TEST_ISSUED + 365ll * 24 * 60 * 60);
    EXPECT_STREQ(read.setup.address, "https://files.example/course/setup.exe");
    EXPECT_EQ(read.setup.size, 120000ull);
    ASSERT_EQ(read.archives_count, 2u);
    EXPECT_STREQ(read.archives[1].address, "https://files.example/course/lessons.zip");
    EXPECT_STREQ(read.archives[1].sha256, "efefefefefefefefefefefefefefefefefefefefefefefefefefefefefefefef");
    EXPECT_EQ(read.archives[0].size, 11000000ull);
    EXPECT_FALSE(read.names_next_key);
    EXPECT_EQ(judge(BY_BACKUP_DOCUMENT), UPDATE_ACCEPTED);
}

TEST_F(UpdateDocument, EveryAttackIsRefusedForWhatItIs)
{
    const std::string good = GOOD_DOCUMENT;
    struct {
        const char *what;
        std::string document;
        update_verdict verdict;
    } attacks[] = {
        {"one byte changed", CHANGED_BYTE_DOCUMENT, UPDATE_UNSIGNED},
        {"signed by another key", BY_STRANGER_DOCUMENT, UPDATE_UNSIGNED},
        {"cut short by a byte", good.substr(0, good.size() - 1), UPDATE_UNSIGNED},
        {"a line after the signature", good + "notes: more\n", UPDATE_UNSIGNED},
        {"far larger than its bound", good + std::string(UPDATE_DOCUMENT_LIMIT, '\n'), UPDATE_TOO_LARGE},
        {"signed but out of order", OUT_OF_ORDER_DOCUMENT, UPDATE_MALFORMED},
        {"for another course", OTHER_COURSE_DOCUMENT, UPDATE_OTHER_COURSE},
        {"older than the installed", OLDER_DOCUMENT, UPDATE_NOT_NEWER},
        {"expired", EXPIRED_DOCUMENT, UPDATE_EXPIRED},
        {"a setup past its bound", HUGE_SETUP_DOCUMENT, UPDATE_FILE_TOO_LARGE},
    };
    for (const auto &attack : attacks)
        EXPECT_EQ(judge(attack.document), attack.verdict) << attack.what;

    // The installed version's own document, replayed once it is in place.
    update_document read;
    EXPECT_EQ(judge(good, trust(5), &read), UPDATE_NOT_NEWER);
}

TEST_F(UpdateDocument, AKeyADocumentNamesSignsTheDocumentsAfterIt)
{
    update_document read;
    EXPECT_EQ(judge(BY_NEXT_DOCUMENT, trust(), &read), UPDATE_UNSIGNED);
    ASSERT_EQ(judge(NAMES_NEXT_KEY_DOCUMENT, trust(), &read), UPDATE_ACCEPTED);
    ASSERT_TRUE(read.names_next_key);

    update_state state = {};
    trust_rotated_key(&state, read.next_key);
    update_trust rotated = trust(6);
    memcpy(rotated.keys[rotated.keys_count++], state.keys[0], P256_POINT_BYTES);
    EXPECT_EQ(judge(BY_NEXT_DOCUMENT, rotated, &read), UPDATE_ACCEPTED);
    EXPECT_EQ(read.sequence, 7ul);
}

// CNG's answers where it cannot verify: a key it will not import, a
// signature it finds invalid.
NTSTATUS WINAPI opened(BCRYPT_ALG_HANDLE *algorithm, LPCWSTR, LPCWSTR, ULONG)
{
    *algorithm = (BCRYPT_ALG_HANDLE)1;
    return 0;
}
NTSTATUS WINAPI not_imported(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE *, PUCHAR, ULONG, ULONG)
{
    return (NTSTATUS)0xC000000DL; // STATUS_INVALID_PARAMETER
}
NTSTATUS WINAPI imported(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE *key, PUCHAR, ULONG, ULONG)
{
    *key = (BCRYPT_KEY_HANDLE)2;
    return 0;
}
NTSTATUS WINAPI invalid(BCRYPT_KEY_HANDLE, VOID *, PUCHAR, ULONG, PUCHAR, ULONG, ULONG)
{
    return (NTSTATUS)0xC000A000L; // STATUS_INVALID_SIGNATURE
}
NTSTATUS WINAPI done(BCRYPT_KEY_HANDLE)
{
    return 0;
}
NTSTATUS WINAPI closed(BCRYPT_ALG_HANDLE, ULONG)
{
    return 0;
}

TEST_F(UpdateDocument, WhatCngCannotVerifyIsNeverTaken)
{
    const cng_library refusing[] = {
        {NULL, opened, not_imported, invalid, done, closed},
        {NULL, opened, imported, invalid, done, closed},
    };
    update_trust by = trust();
    for (const cng_library &table : refusing) {
        update_document read;
        const std::string good = GOOD_DOCUMENT;
        EXPECT_EQ(judge_update_document(&table, good.data(), good.size(), &by, NOW, &read), UPDATE_UNSIGNED);
    }
}

TEST(UpdateTime, ReadsOnlyRealUtcTimesOfItsOneForm)
{
    EXPECT_EQ(read_utc_time("2026-12-11T00:00:00Z", 20), 1796947200ll);
    EXPECT_EQ(read_utc_time("2028-02-29T23:59:59Z", 20), 1835481599ll);
    EXPECT_EQ(read_utc_time("2000-03-01T00:00:00Z", 20), 951868800ll);
    const char *refused[] = {"2027-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2026-13-01T00:00:00Z",
                             "2026-12-11T24:00:00Z", "2026-12-11 00:00:00Z", "2026-12-11T00:00:00+",
                             "1969-12-31T23:59:59Z", "2026-1a-11T00:00:00Z"};
    for (const char *time : refused)
        EXPECT_EQ(read_utc_time(time, strlen(time)), -1) << time;
}

TEST(UpdateState, KeepsWhatTheChecksLearnedAndAsksOnceADay)
{
    std::string folder = current_folder() + "\\update-state-test";
    remove_tree(folder);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    update_state state = {};
    state.checked = 1796947200;
    state.tried = 9;
    // One more rotated key than there is room for: the oldest goes.
    for (unsigned char first = 1; first <= ROTATED_KEYS_CAPACITY + 1; first++) {
        unsigned char key[P256_POINT_BYTES] = {first};
        trust_rotated_key(&state, key);
        trust_rotated_key(&state, key);
    }
    ASSERT_EQ(write_update_state(folder.c_str(), &state), 0);
    update_state read;
    read_update_state(folder.c_str(), &read);
    EXPECT_EQ(read.checked, state.checked);
    EXPECT_EQ(read.tried, 9ul);
    ASSERT_EQ(read.keys_count, (size_t)ROTATED_KEYS_CAPACITY);
    EXPECT_EQ(read.keys[0][0], 2);
    EXPECT_EQ(read.keys[ROTATED_KEYS_CAPACITY - 1][0], ROTATED_KEYS_CAPACITY + 1);

    // The update last tried is no more taken than the installed one.
    update_trust trust;
    make_update_trust(&read, &trust);
    EXPECT_EQ(trust.above_sequence, 9ul);
    EXPECT_EQ(trust.keys_count, (size_t)ROTATED_KEYS_CAPACITY) << "the test course pins no key";

    const long long day = UPDATE_CHECK_EVERY_SECONDS;
    EXPECT_FALSE(update_check_due(&read, read.checked + day - 1));
    EXPECT_TRUE(update_check_due(&read, read.checked + day));
    EXPECT_TRUE(update_check_due(&read, read.checked - 1)) << "a clock set back";
    update_state never = {};
    EXPECT_TRUE(update_check_due(&never, read.checked));

    ASSERT_TRUE(write_file(folder + "\\" + UPDATE_STATE_NAME, "checked: 5\nkey: 12\ntried: 3\n"));
    read_update_state(folder.c_str(), &read);
    EXPECT_EQ(read.checked, 5);
    EXPECT_EQ(read.tried, 3ul);
    EXPECT_EQ(read.keys_count, 0u) << "a key that does not read";
    remove_tree(folder);
}

} // namespace
