// Diagnostics and small utilities: the printer, its switch, the version and hexasc.
#include "diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "libxcom.h"

namespace xcom {
namespace {

// Diagnostic switch; atomic, so any thread may read or flip it without a lock.
std::atomic<int> gbLogErrors{0};

constexpr std::size_t kLogBufferSize = 512;
constexpr char kVersion[] = "libxcom 0.0.1";

// Result of the GNU strerror_r.
[[maybe_unused]] const char *pick_error(const char *message, const char *) noexcept {
    return message;
}
// Result of the POSIX strerror_r.
[[maybe_unused]] const char *pick_error(int status, const char *buffer) noexcept {
    return status == 0 ? buffer : "Unknown error";
}

}  // namespace

int vlog(const char *prefix, const char *fmt, va_list args) noexcept {
    char text[kLogBufferSize];
    std::size_t used = 0;
    if (prefix != nullptr) {
        used = strnlen(prefix, kLogBufferSize - 1);
        std::memcpy(text, prefix, used);
    }
    text[used] = '\0';
    if (fmt != nullptr) {
        const int wanted = std::vsnprintf(text + used, kLogBufferSize - used, fmt, args);
        if (wanted > 0) used += std::min<std::size_t>(wanted, kLogBufferSize - 1 - used);
    }
    // The composed text is written as it is: it may hold received data.
    const std::size_t written = std::fwrite(text, 1, used, stdout);
    std::fflush(stdout);
    return static_cast<int>(written);
}

void warn(const char *fmt, ...) noexcept {
    if (gbLogErrors.load(std::memory_order_relaxed) == 0) return;
    va_list args;
    va_start(args, fmt);
    vlog(kWarningPrefix, fmt, args);
    va_end(args);
}

ErrorText error_text(int error_number) noexcept {
    ErrorText result{};
    char buffer[sizeof result.text];
    const char *message = pick_error(strerror_r(error_number, buffer, sizeof buffer), buffer);
    std::snprintf(result.text, sizeof result.text, "%s", message);
    return result;
}

}  // namespace xcom

extern "C" {

int xcom_log(const char *prefix, const char *fmt, ...) noexcept {
    va_list args;
    va_start(args, fmt);
    const int written = xcom::vlog(prefix, fmt, args);
    va_end(args);
    return written;
}

int xcom_should_print_errors(void) noexcept {
    return xcom::gbLogErrors.load(std::memory_order_relaxed);
}

int xcom_log_errors(int bLogErrors) noexcept {
    return xcom::gbLogErrors.exchange(bLogErrors, std::memory_order_relaxed);
}

const char *xcom_get_version(void) noexcept {
    return xcom::kVersion;
}

char *hexasc(const char *buff, int len, char *output) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (output == nullptr) return nullptr;
    char *out = output;
    for (int i = 0; buff != nullptr && i < len; ++i) {
        const auto byte = static_cast<unsigned char>(buff[i]);
        if (byte >= 0x20 && byte <= 0x7E) {
            *out++ = static_cast<char>(byte);
        } else {
            *out++ = '[';
            *out++ = kDigits[byte >> 4];
            *out++ = kDigits[byte & 0x0F];
            *out++ = ']';
        }
    }
    *out = '\0';
    return output;
}

}  // extern "C"
