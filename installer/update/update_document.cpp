/* The update document judged: its bound, then its signature over its exact
 * bytes, then each line in its place, then what it says against what this
 * installation is. A byte out of place anywhere refuses the whole. */
#include "update/update_document.h"

#include <string.h>

#include "sha256.h"

const char *const UPDATE_VERDICT_TEXT[] = {
    "It names a newer version of the course, signed by its author.",
    "It is larger than an update document can be.",
    "It is not signed by a key this course trusts.",
    "It does not read as an update document.",
    "It is the update document of another course.",
    "It names no version newer than this one.",
    "It has expired.",
    "It names a file larger than an update can bring.",
};

static const char SIGNATURE_KEY[] = "signature: ";
enum { SIGNATURE_LINE_LENGTH = sizeof SIGNATURE_KEY - 1 + 2 * P256_SIGNATURE_BYTES + 1 };

/* The bytes still to read: from at to end. */
typedef struct {
    const char *at;
    const char *end;
} cursor;

static int hex_value(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    return -1;
}

int read_p256_hex(const char *text, size_t length, unsigned char bytes[P256_POINT_BYTES])
{
    if (length != 2 * P256_POINT_BYTES)
        return 1;
    for (size_t i = 0; i < P256_POINT_BYTES; i++) {
        int high = hex_value(text[2 * i]), low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return 1;
        bytes[i] = (unsigned char)(high << 4 | low);
    }
    return 0;
}

/* The count of length decimal digits at text, no leading zero, at most
 * limit; -1 otherwise. */
static long long read_number(const char *text, size_t length, unsigned long long limit)
{
    if (length == 0 || length > 19 || (text[0] == '0' && length > 1))
        return -1;
    unsigned long long number = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        number = number * 10 + (unsigned long long)(text[i] - '0');
    }
    return number <= limit ? (long long)number : -1;
}

/* The count of the count digits at text, leading zeros and all. */
static long long digits_at(const char *text, int count)
{
    long long number = 0;
    for (int i = 0; i < count; i++)
        number = number * 10 + (text[i] - '0');
    return number;
}

/* Days since 1970-01-01 of a date of the proleptic Gregorian calendar. */
static long long days_from_civil(long long year, long long month, long long day)
{
    year -= month <= 2;
    long long era = year / 400;
    long long of_era = year - era * 400;
    long long of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long of_cycle = of_era * 365 + of_era / 4 - of_era / 100 + of_year;
    return era * 146097 + of_cycle - 719468;
}

long long read_utc_time(const char *text, size_t length)
{
    static const char FORM[] = "0000-00-00T00:00:00Z";
    if (length != sizeof FORM - 1)
        return -1;
    for (size_t i = 0; i < length; i++)
        if (FORM[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != FORM[i])
            return -1;
    long long year = digits_at(text, 4), month = digits_at(text + 5, 2), day = digits_at(text + 8, 2),
              hour = digits_at(text + 11, 2), minute = digits_at(text + 14, 2), second = digits_at(text + 17, 2);
    static const unsigned char MONTH_DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int leap_day = month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > MONTH_DAYS[month - 1] + leap_day ||
        hour > 23 || minute > 59 || second > 59)
        return -1;
    return ((days_from_civil(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
}

/* The value of the next line when its key is key: *value and *length,
 * the cursor past the line; 1, the cursor where it was, when the next line
 * is another or has no line feed. A value holds no control character. */
static int take_line(cursor *from, const char *key, const char **value, size_t *length)
{
    size_t key_length = strlen(key);
    const char *line_end = (const char *)memchr(from->at, '\n', (size_t)(from->end - from->at));
    if (!line_end || (size_t)(line_end - from->at) < key_length + 2 || memcmp(from->at, key, key_length) != 0 ||
        memcmp(from->at + key_length, ": ", 2) != 0)
        return 1;
    *value = from->at + key_length + 2;
    *length = (size_t)(line_end - *value);
    for (size_t i = 0; i < *length; i++)
        if ((unsigned char)(*value)[i] < 0x20 || (*value)[i] == 0x7f)
            return 1;
    from->at = line_end + 1;
    return 0;
}

/* A text value into a buffer of capacity bytes; 0, or 1 when it is empty
 * or does not fit. */
static int copy_text(const char *value, size_t length, char *text, size_t capacity)
{
    if (length == 0 || length >= capacity)
        return 1;
    memcpy(text, value, length);
    text[length] = '\0';
    return 0;
}

/* "ADDRESS SHA256 SIZE": an https address, a digest in lower-case
 * hexadecimal, a size of one byte or more. */
static int read_file_line(const char *value, size_t length, update_file *file)
{
    const char *first_blank = (const char *)memchr(value, ' ', length);
    if (!first_blank)
        return 1;
    size_t address_length = (size_t)(first_blank - value);
    const char *digest = first_blank + 1;
    const char *end = value + length;
    if ((size_t)(end - digest) < SHA256_TEXT_CAPACITY + 1 || digest[SHA256_TEXT_CAPACITY - 1] != ' ' ||
        address_length < 9 || memcmp(value, "https://", 8) != 0 ||
        copy_text(value, address_length, file->address, sizeof file->address) != 0)
        return 1;
    for (size_t i = 0; i < SHA256_TEXT_CAPACITY - 1; i++)
        if (hex_value(digest[i]) < 0)
            return 1;
    memcpy(file->sha256, digest, SHA256_TEXT_CAPACITY - 1);
    file->sha256[SHA256_TEXT_CAPACITY - 1] = '\0';
    const char *size = digest + SHA256_TEXT_CAPACITY;
    long long bytes = read_number(size, (size_t)(end - size), ~0ull >> 1);
    file->size = (unsigned long long)bytes;
    return bytes <= 0;
}

/* Every line of the signed bytes into *read, the course's name at *course;
 * 0, or 1 at the first that is not as the document's form has it. */
static int read_lines(cursor *from, update_document *read, const char **course, size_t *course_length)
{
    const char *value;
    size_t length;
    long long number;
    if (take_line(from, "quillby_update", &value, &length) != 0 || length != 1 || value[0] != '1' ||
        take_line(from, "course", course, course_length) != 0 || *course_length == 0 ||
        take_line(from, "sequence", &value, &length) != 0 || (number = read_number(value, length, 0x7fffffff)) < 1)
        return 1;
    read->sequence = (unsigned long)number;
    if (take_line(from, "version", &value, &length) != 0 ||
        copy_text(value, length, read->version, sizeof read->version) != 0 ||
        take_line(from, "issued", &value, &length) != 0 || read_utc_time(value, length) < 0 ||
        take_line(from, "expires", &value, &length) != 0 || (read->expires = read_utc_time(value, length)) < 0 ||
        take_line(from, "setup", &value, &length) != 0 || read_file_line(value, length, &read->setup) != 0)
        return 1;
    read->archives_count = 0;
    while (take_line(from, "archive", &value, &length) == 0) {
        if (read->archives_count == UPDATE_ARCHIVES_CAPACITY ||
            read_file_line(value, length, &read->archives[read->archives_count++]) != 0)
            return 1;
    }
    read->names_next_key = take_line(from, "next_key", &value, &length) == 0;
    if (read->names_next_key && read_p256_hex(value, length, read->next_key) != 0)
        return 1;
    if (take_line(from, "notes", &value, &length) == 0 && length == 0)
        return 1;
    return read->archives_count == 0 || from->at != from->end;
}

/* Whether the signature line ends the document and one of the keys made
 * it over every byte before it. */
static int signed_by_trusted_key(const cng_library *cng, const char *document, size_t length,
                                 const update_trust *trust)
{
    if (length < SIGNATURE_LINE_LENGTH)
        return 0;
    const char *line = document + length - SIGNATURE_LINE_LENGTH;
    unsigned char signature[P256_SIGNATURE_BYTES];
    if ((line != document && line[-1] != '\n') || memcmp(line, SIGNATURE_KEY, sizeof SIGNATURE_KEY - 1) != 0 ||
        document[length - 1] != '\n' ||
        read_p256_hex(line + sizeof SIGNATURE_KEY - 1, 2 * P256_SIGNATURE_BYTES, signature) != 0)
        return 0;
    unsigned char digest[P256_DIGEST_BYTES];
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, (const unsigned char *)document, (size_t)(line - document));
    sha256_final(&ctx, digest);
    for (size_t i = 0; i < trust->keys_count; i++)
        if (p256_verify(cng, trust->keys[i], digest, signature) == 0)
            return 1;
    return 0;
}

update_verdict judge_update_document(const cng_library *cng, const char *document, size_t length,
                                     const update_trust *trust, long long now, update_document *read)
{
    if (length > UPDATE_DOCUMENT_LIMIT)
        return UPDATE_TOO_LARGE;
    if (!signed_by_trusted_key(cng, document, length, trust))
        return UPDATE_UNSIGNED;
    cursor from = {document, document + length - SIGNATURE_LINE_LENGTH};
    const char *course;
    size_t course_length;
    if (read_lines(&from, read, &course, &course_length) != 0)
        return UPDATE_MALFORMED;
    if (course_length != strlen(trust->course) || memcmp(course, trust->course, course_length) != 0)
        return UPDATE_OTHER_COURSE;
    if (read->sequence <= trust->above_sequence)
        return UPDATE_NOT_NEWER;
    if (read->expires <= now)
        return UPDATE_EXPIRED;
    if (read->setup.size > UPDATE_SETUP_LIMIT)
        return UPDATE_FILE_TOO_LARGE;
    for (size_t i = 0; i < read->archives_count; i++)
        if (read->archives[i].size > UPDATE_ARCHIVE_LIMIT)
            return UPDATE_FILE_TOO_LARGE;
    return UPDATE_ACCEPTED;
}
