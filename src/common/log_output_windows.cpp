#include "common/log_output.h"

#include <windows.h>

#include <string>

void writeLogOutput(const char* text, std::size_t size) {
    std::string bytes;
    bytes.reserve(size + size / 16);
    for (std::size_t at = 0; at < size; ++at) {
        if (text[at] == '\n') {
            bytes.push_back('\r');
        }
        bytes.push_back(text[at]);
    }
    const HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(output, data, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
            return;  // nobody reads standard error any more
        }
        data += written;
        left -= written;
    }
}
