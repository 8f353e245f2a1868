#include "common/log_output.h"

#include <unistd.h>

#include <cerrno>

void writeLogOutput(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // nobody reads standard error any more
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}
