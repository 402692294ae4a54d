#include "secret_words.h"

#include <stdio.h>
#include <string.h>

#include "command_parsing.h"

namespace {

constexpr size_t kLineRoom = 515;  // a line and a few more, as tokenized here

// The secret words of a password command, argv[first..last]; false for other lines.
bool secret_words(int argc, char **argv, int &first, int &last) {
    if (argc == 5 && strcmp(argv[0], "setpassword") == 0) {
        first = 3;
        last = 4;
        return true;
    }
    if (argc == 3 && strcmp(argv[0], "webmonitoring") == 0) {
        first = last = 1;
        return true;
    }
    return false;
}

}  // namespace

char *encode(char *sNewString, const char *sOldString) {
    static const char kHex[] = "0123456789abcdef";
    char *out = sNewString;
    for (const unsigned char *in = reinterpret_cast<const unsigned char *>(sOldString); *in; ++in) {
        unsigned value = *in & 0x7Fu;
        *out++ = kHex[value >> 4];
        *out++ = kHex[value & 0xF];
    }
    *out = '\0';
    return sNewString;
}

bool carries_secrets(const char *line) {
    char copy[kLineRoom];
    snprintf(copy, sizeof copy, "%s", line);
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy, &argc, argv) != 0 || argc == 0) return false;
    bool forwards_words =
        strcmp(argv[0], "api") == 0 || strcmp(argv[0], "sys") == 0 || strcmp(argv[0], "kbox") == 0;
    const char *command = forwards_words && argc > 1 ? argv[1] : argv[0];
    return strcmp(command, "setpassword") == 0 || strcmp(command, "webmonitoring") == 0;
}

int join_encoding_secrets(char *out, int argc, char **argv) {
    int first = 0, last = -1;  // the secret words, none by default
    secret_words(argc, argv, first, last);
    // Each secret may grow to twice its length; the joined line must fit its 512 bytes.
    char encoded[2][2 * kLineRoom + 1];
    char *words[MAX_ARGS];
    size_t total = 0;
    for (int i = 0; i < argc; ++i) {
        words[i] = i >= first && i <= last ? encode(encoded[i - first], argv[i]) : argv[i];
        total += strlen(words[i]) + (i > 0 ? 1 : 0);
    }
    if (total > 511) return -1;
    make_normalized_string(out, argc, words);
    return 0;
}

int preProcessPasswordCommands(char *cbuff) {
    char copy[kLineRoom];
    snprintf(copy, sizeof copy, "%s", cbuff);
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy, &argc, argv) != 0) return 0;
    int first, last;
    // Other lines keep their spacing, quotes and escapes.
    return secret_words(argc, argv, first, last) ? join_encoding_secrets(cbuff, argc, argv) : 0;
}
