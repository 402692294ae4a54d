#include "numbers.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

int parse_leading_int(const char *text) {
    long long value = strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int parse_leading_int_low32(const char *text) {
    long long value = strtoll(text, nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
}
