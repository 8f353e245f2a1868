#pragma once

#include <cstdint>

// One process for good: its id and its creation time (Windows: a FILETIME count; Linux: the start
// time in clock ticks since boot), since ids are reused.
struct ProcessIdentity {
    std::uint32_t pid = 0;
    std::uint64_t creationTime = 0;

    bool operator==(const ProcessIdentity&) const = default;
};

// The program's own process id, and its whole identity.
std::uint32_t currentProcessId();
ProcessIdentity currentProcessIdentity();

// True while the process with that identity runs; false once it has ended, or when the id now
// belongs to another process.
bool isProcessAlive(const ProcessIdentity& identity);
