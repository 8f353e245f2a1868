#include "app/stdin_reader.h"

#include <windows.h>

#include "common/log.h"
#include "app/stdin_protocol.h"

void stdinReaderMain() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        LogLine() << "[win-helper] No stdin handle available for live ducking updates.";
        return;
    }
    runStdinReader([input](char* buffer, std::size_t capacity) -> std::size_t {
        DWORD got = 0;
        if (!ReadFile(input, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
            return 0;
        }
        return got;
    });
}
