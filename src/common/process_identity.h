#pragma once

#include <cstdint>

// One process for good: its id and its creation time (a FILETIME count), since ids are reused.
struct ProcessIdentity {
    std::uint32_t pid = 0;
    std::uint64_t creationTime = 0;

    bool operator==(const ProcessIdentity&) const = default;
};

// The creation time of the process behind the handle (it needs query rights); 0 on failure.
std::uint64_t processCreationTime(void* process);

// The program's own identity.
ProcessIdentity currentProcessIdentity();

// True while the process with that identity runs; false once it has ended, or when the id now
// belongs to another process.
bool isProcessAlive(const ProcessIdentity& identity);
