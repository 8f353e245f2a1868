#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// The process that has this id now, while it runs; nothing once no running process has it. One
// that runs but does not let this program read its creation time (Windows: access refused) has
// creation time 0.
std::optional<ProcessIdentity> processIdentityOf(std::uint32_t pid);

// The system's boot, where an identity is only good within one (Linux: start times count from
// it; /proc/sys/kernel/random/boot_id); empty where identities hold across boots (Windows).
std::string currentBootIdentity();
