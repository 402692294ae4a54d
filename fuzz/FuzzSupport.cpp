#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "FuzzInput.h"

namespace vela::fuzz {

void silenceStdout() {
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, 1) < 0) abort();
    close(null);
}

void checkFailed(const char *what, const char *file, int line) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    abort();
}

}  // namespace vela::fuzz
