/* The update state as text, "key: value" lines as the document has them. */
#include "update/update_state.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/manifest.h"
#include "windows/run_hidden.h"
#include "windows/whole_file.h"

/* Three lines and every rotated key's, with room to spare. */
enum { UPDATE_STATE_LIMIT = 2048 };

void format_update_path(char path[FILE_PATH_CAPACITY], const char *install_folder, const char *name)
{
    snprintf(path, FILE_PATH_CAPACITY, "%s\\%s", install_folder, name);
}

void format_downloaded_path(char path[FILE_PATH_CAPACITY], const char *install_folder, const char *name)
{
    snprintf(path, FILE_PATH_CAPACITY, "%s\\%s\\%s", install_folder, UPDATE_DOWNLOAD_FOLDER, name);
}

void read_update_state(const char *install_folder, update_state *state)
{
    memset(state, 0, sizeof *state);
    char path[FILE_PATH_CAPACITY];
    format_update_path(path, install_folder, UPDATE_STATE_NAME);
    size_t length;
    char *text = read_whole_file(path, UPDATE_STATE_LIMIT, &length);
    if (!text)
        return;
    for (char *line = text, *end; *line; line = end + 1) {
        end = strchr(line, '\n');
        if (!end)
            break;
        *end = '\0';
        if (strncmp(line, "checked: ", 9) == 0)
            state->checked = strtoll(line + 9, NULL, 10);
        else if (strncmp(line, "tried: ", 7) == 0)
            state->tried = strtoul(line + 7, NULL, 10);
        else if (strncmp(line, "key: ", 5) == 0 && state->keys_count < ROTATED_KEYS_CAPACITY &&
                 read_p256_hex(line + 5, strlen(line + 5), state->keys[state->keys_count]) == 0)
            state->keys_count++;
    }
    free(text);
}

int write_update_state(const char *install_folder, const update_state *state)
{
    char text[UPDATE_STATE_LIMIT];
    int length = snprintf(text, sizeof text, "checked: %lld\ntried: %lu\n", state->checked, state->tried);
    for (size_t i = 0; i < state->keys_count; i++) {
        length += snprintf(text + length, sizeof text - (size_t)length, "key: ");
        for (size_t j = 0; j < P256_POINT_BYTES; j++)
            length += snprintf(text + length, sizeof text - (size_t)length, "%02x", state->keys[i][j]);
        length += snprintf(text + length, sizeof text - (size_t)length, "\n");
    }
    char path[FILE_PATH_CAPACITY];
    format_update_path(path, install_folder, UPDATE_STATE_NAME);
    return replace_whole_file(path, text, (size_t)length);
}

void trust_rotated_key(update_state *state, const unsigned char key[P256_POINT_BYTES])
{
    for (size_t i = 0; i < state->keys_count; i++)
        if (memcmp(state->keys[i], key, P256_POINT_BYTES) == 0)
            return;
    if (state->keys_count == ROTATED_KEYS_CAPACITY) {
        memmove(state->keys[0], state->keys[1], (ROTATED_KEYS_CAPACITY - 1) * P256_POINT_BYTES);
        state->keys_count--;
    }
    memcpy(state->keys[state->keys_count++], key, P256_POINT_BYTES);
}

void make_update_trust(const update_state *state, update_trust *trust)
{
    trust->keys_count = 0;
    for (size_t i = 0; i < UPDATE_KEY_SLOTS; i++)
        if (read_p256_hex(UPDATE_KEYS[i], strlen(UPDATE_KEYS[i]), trust->keys[trust->keys_count]) == 0)
            trust->keys_count++;
    for (size_t i = 0; i < state->keys_count; i++)
        memcpy(trust->keys[trust->keys_count++], state->keys[i], P256_POINT_BYTES);
    trust->course = APP_DIR_NAME;
    trust->above_sequence = state->tried > UPDATE_SEQUENCE ? state->tried : UPDATE_SEQUENCE;
}

int update_check_due(const update_state *state, long long now)
{
    return state->checked == 0 || now < state->checked || now - state->checked >= UPDATE_CHECK_EVERY_SECONDS;
}

long long seconds_now(void)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = (unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime;
    /* From 1601 in 100 ns steps to 1970 in seconds. */
    return (long long)(ticks / 10000000ull) - 11644473600ll;
}

/* The log, appended to, handed to the child; started afresh past its
 * bound. NULL when it cannot be opened. */
static HANDLE open_update_log(const char *install_folder)
{
    char path[FILE_PATH_CAPACITY];
    format_update_path(path, install_folder, UPDATE_LOG_NAME);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    WIN32_FILE_ATTRIBUTE_DATA existing;
    DWORD disposition = GetFileAttributesExA(path, GetFileExInfoStandard, &existing) &&
                                (existing.nFileSizeHigh != 0 || existing.nFileSizeLow > UPDATE_LOG_LIMIT)
                            ? CREATE_ALWAYS
                            : OPEN_ALWAYS;
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherited, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    return log == INVALID_HANDLE_VALUE ? NULL : log;
}

/* "PROGRAM" SWITCH, for CreateProcess. */
enum { SWITCH_COMMAND_CAPACITY = FILE_PATH_CAPACITY + 32 };

static void format_switch_command(char command[SWITCH_COMMAND_CAPACITY], const char *program, const char *switch_name)
{
    snprintf(command, SWITCH_COMMAND_CAPACITY, "\"%s\" %s", program, switch_name);
}

HANDLE start_logged(const char *install_folder, const char *program, const char *switch_name)
{
    char command[SWITCH_COMMAND_CAPACITY];
    format_switch_command(command, program, switch_name);
    HANDLE log = open_update_log(install_folder);
    HANDLE process = start_hidden(program, command, install_folder, log);
    if (log)
        CloseHandle(log);
    return process;
}

int run_logged(const char *install_folder, const char *program, const char *switch_name, unsigned long limit_ms)
{
    char command[SWITCH_COMMAND_CAPACITY];
    format_switch_command(command, program, switch_name);
    HANDLE log = open_update_log(install_folder);
    int status = run_hidden_logged(program, command, install_folder, log, limit_ms);
    if (log)
        CloseHandle(log);
    return status;
}

void append_update_log(const char *install_folder, const char *text)
{
    HANDLE log = open_update_log(install_folder);
    if (!log)
        return;
    DWORD written;
    WriteFile(log, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(log);
}
