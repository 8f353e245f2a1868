#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/process_identity.h"

// The ducking journal: what a running program has lowered, kept on disk so that the volumes
// come back however the program ends (a guardian process after a kill, the next capture's start
// after a crash or a power loss). Versioned and line-based, readable by a person:
//
//   quillmere ducking journal 2
//   owner 4242 133791234567890123
//   server pulse%0020server%00201a2b3c4d
//   boot 5f2b9c1e-8d3a-4e6f-9a0b-1c2d3e4f5a6b
//   lowered 0.800000012 0.160000002 {0.0.0.00000000}.{a1b2}|#%0025b{c3}
//   pending 1.5 0.300000012 sink-input:12 sink-input-by-application-name:Player
//   end
//
// "owner" holds the program's process id and creation time (Windows: a FILETIME count; Linux:
// the start time in clock ticks since boot), which together name one process for good within
// one boot. "server", only where volumes belong to a sound server (Linux), names the server
// instance the program talked to. "boot", only where the system names its boots (Linux), names
// the owner's boot, after the server line so that a reader that predates it reads the journal as
// ever (it leaves that line out as one it cannot read); a journal written before has none. Each session line holds the
// volume from before the ducking, the volume the program set, the session identifier and, where the platform has one,
// the key under which the server remembers the application's volume. Identifiers and keys are written as UTF-16 code
// units (a key's bytes, one unit each), printable ASCII other than '%' as they are, every other
// unit as %XXXX. While a new ratio is being applied, the volume set is written "NEW,OLD": the
// session is at one of them. "pending" marks a session that a restore did not find. Volumes are
// any finite level from 0 (a sound server goes above 1), written with nine significant digits,
// which read back bit for bit. "end" closes a complete journal: a file without it was cut short.
//
// Version 1, which earlier programs write, has no server line, no keys, and volumes within 0..1.

inline constexpr std::size_t kMaxJournalBytes = 1 << 20;

struct JournalEntry {
    std::wstring identifier;
    float before = 1.0f;
    float set = 1.0f;
    bool pending = false;
    // The volume set before a new ratio, until the new one is known to be set.
    std::optional<float> previousSet;
    // The key of the server's memory of the application's volume; empty where there is none.
    std::string key;
};

struct Journal {
    int version = 2;
    ProcessIdentity owner;
    std::string server;  // the sound server instance; empty where there is none
    std::vector<JournalEntry> entries;
    std::string boot;  // the owner's boot (currentBootIdentity); empty where there is none
};

// Written in the journal's version (a version 1 journal has no server and no keys).
std::string formatJournal(const Journal& journal);

// A journal read back, with the numbers (from 1) of the session lines that could not be read:
// malformed, a volume above `levelLimit`, negative or not a number, an identifier already listed,
// a key in a version 1 journal. Nothing when the text is no journal at all: not version 1 or 2,
// its owner unreadable, truncated (no "end"), larger than kMaxJournalBytes.
struct ReadJournal {
    Journal journal;
    std::vector<std::size_t> unreadableLines;
};
std::optional<ReadJournal> parseJournal(std::string_view text,
                                        float levelLimit = std::numeric_limits<float>::infinity());

// How far a level read back may lie from the level set and still be that level: exact (the
// default) where levels read back exactly; within half a step where the platform keeps volumes
// in steps.
struct LevelMatch {
    float absolute = 0.0f;
    float relative = 0.0f;

    bool operator()(float current, std::optional<float> set) const {
        return set && (current == *set || std::fabs(current - *set) <= absolute + relative * *set);
    }
};

// What to do with a journal's session found at `current` (nothing: not found, or its volume
// could not be read). Only a session still at the volume the program set is put back; a
// different volume is the user's own change, and it wins.
enum class RecoveryAction {
    Restore,  // still at the volume we set: put the volume from before back
    Drop,     // changed meanwhile: leave it, forget the entry
    Keep,     // not seen: keep the entry for a later try
};
RecoveryAction recoveryAction(std::optional<float> current, float set, std::optional<float> previousSet,
                              LevelMatch match = {});

// The volume from before the ducking for a session about to be lowered, now at `current`: a
// live program's journal that lists it at its current volume (it lowered it) knows the user's
// volume; otherwise the current volume is it.
float originalVolume(const std::wstring& identifier, float current, const std::vector<Journal>& otherLiveJournals,
                     LevelMatch match = {});
