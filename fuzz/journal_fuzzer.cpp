// The ducking journal's reader over arbitrary text. Properties: whatever it accepts holds only
// volumes within 0..1 and distinct identifiers, and reads back from its own writing unchanged,
// bit for bit.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>

#include "ducking/ducking_journal.h"

namespace {

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<Journal> journal = parseJournal(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!journal) {
        return 0;
    }
    std::set<std::wstring> identifiers;
    for (const JournalEntry& entry : journal->entries) {
        if (!(entry.before >= 0.0f && entry.before <= 1.0f && entry.set >= 0.0f && entry.set <= 1.0f) ||
            !identifiers.insert(entry.identifier).second) {
            std::abort();
        }
    }
    const std::optional<Journal> again = parseJournal(formatJournal(*journal));
    if (!again || !(again->owner == journal->owner) || again->entries.size() != journal->entries.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < journal->entries.size(); ++i) {
        const JournalEntry& a = journal->entries[i];
        const JournalEntry& b = again->entries[i];
        if (a.identifier != b.identifier || !sameBits(a.before, b.before) || !sameBits(a.set, b.set) ||
            a.pending != b.pending) {
            std::abort();
        }
    }
    return 0;
}
