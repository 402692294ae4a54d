// Command-line tokenizer and its helpers.

#include "command_parsing.h"

#include <assert.h>
#include <string.h>
#include <strings.h>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte of a simple one-letter escape, or -1 when the letter is not one.
int simple_escape(char c) {
    switch (c) {
        case '"':
            return '"';
        case '\'':
            return '\'';
        case '?':
            return '?';
        case '\\':
            return '\\';
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'v':
            return '\v';
        default:
            return -1;
    }
}

// Reads a run of digits of the given base from *read; the value's low 8 bits.
// Unsigned arithmetic wraps, so a long run keeps the low bits of its true value.
char read_number(char *&read, unsigned base) {
    unsigned value = 0;
    for (;;) {
        int digit = base == 8 ? (is_octal(*read) ? *read - '0' : -1) : hex_value(*read);
        if (digit < 0) break;
        value = value * base + static_cast<unsigned>(digit);
        ++read;
    }
    return static_cast<char>(value & 0xFF);
}

}  // namespace

extern "C" {

char *findDelimiter(char *line) {
    assert(line != nullptr);
    char *read = line;
    char *write = line;
    for (;;) {
        char c = *read;
        if (c == '"') {
            *write = '\0';
            return read + 1;
        }
        if (c == '\0') {
            *write = '\0';
            return read;
        }
        if (c != '\\') {
            *write++ = c;
            ++read;
            continue;
        }
        char escaped = *++read;  // the character after the backslash
        if (escaped == '\0') return nullptr;
        if (escaped == 'u') {  // kept as written; the writer is at least one byte behind
            *write++ = '\\';
            *write++ = 'u';
            ++read;
        } else if (is_octal(escaped)) {
            *write++ = read_number(read, 8);
        } else if (escaped == 'x') {
            ++read;
            *write++ = read_number(read, 16);
        } else {
            int simple = simple_escape(escaped);
            *write++ = simple >= 0 ? static_cast<char>(simple) : escaped;
            ++read;
        }
    }
}

void rip(char *line) {
    assert(line != nullptr);
    if (char *lf = strchr(line, '\n')) *lf = '\0';
    if (char *cr = strchr(line, '\r')) *cr = '\0';
}

int tokenizeString(char *line, int *argc, char **argv) {
    assert(line != nullptr && argc != nullptr && argv != nullptr);
    rip(line);
    for (int i = 0; i < MAX_ARGS; ++i)
        argv[i] = nullptr;

    int n = 0;
    char *p = line;
    for (;;) {
        while (is_blank(*p))
            ++p;
        if (*p == '\0') break;
        if (n == 0 && *p == '#') return 0;  // a comment: nothing to run
        if (*p == '"') {
            argv[n++] = p + 1;
            p = findDelimiter(p + 1);
            if (p == nullptr) return -1;
        } else {
            argv[n++] = p;
            // An argument ends at the next space; at a tab only when no space follows.
            char *end = strchr(p, ' ');
            if (end == nullptr) end = strchr(p, '\t');
            if (end == nullptr) {
                p += strlen(p);
            } else {
                *end = '\0';
                p = end + 1;
            }
        }
        if (n == MAX_ARGS) {
            *argc = MAX_ARGS;
            return 0;
        }
    }
    if (n == 0) argv[n++] = p;  // an empty or blank line: one empty argument
    *argc = n;
    return 0;
}

void make_normalized_string(char *buffer, int argc, char **argv) {
    char *out = buffer;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) *out++ = ' ';
        size_t len = strlen(argv[i]);
        memcpy(out, argv[i], len);
        out += len;
    }
    *out = '\0';
}

int get_bool_parm(int argc, char **argv, int current_state) {
    if (argc >= 2) {
        if (strcasecmp(argv[1], "on") == 0) return -1;
        if (strcasecmp(argv[1], "off") == 0) return 0;
    }
    return current_state == 0 ? 1 : 0;
}

}  // extern "C"
