// The ducking journal's reader over arbitrary text. Properties: whatever it accepts holds only
// finite volumes from 0 (within 0..1 in version 1) and distinct identifiers, and reads back from
// its own writing unchanged, bit for bit, with no unreadable line. Its file name beside it: the
// name written for any owner (one made of the input's first bytes) is a journal's and gives that
// owner back, and an owner read from the input as a name is one whose name gives it back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include "ducking/ducking_journal.h"
#include "ducking/journal_names.h"

namespace {

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkNameOf(const ProcessIdentity& owner) {
    const std::string name = journalFileName(owner);
    if (journalFileKind(name) != JournalFileKind::Journal || !(ownerNamedBy(name) == owner)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ProcessIdentity owner;
    if (size >= sizeof owner.pid + sizeof owner.creationTime) {
        std::memcpy(&owner.pid, data, sizeof owner.pid);
        std::memcpy(&owner.creationTime, data + sizeof owner.pid, sizeof owner.creationTime);
        checkNameOf(owner);
    }
    if (const std::optional<ProcessIdentity> named = ownerNamedBy(text)) {
        checkNameOf(*named);
    }
    const std::optional<ReadJournal> read = parseJournal(text);
    if (!read) {
        return 0;
    }
    const Journal* journal = &read->journal;
    const float limit = journal->version == 1 ? 1.0f : std::numeric_limits<float>::max();
    std::set<std::wstring> identifiers;
    for (const JournalEntry& entry : journal->entries) {
        if (!(entry.before >= 0.0f && entry.before <= limit && entry.set >= 0.0f && entry.set <= limit) ||
            !identifiers.insert(entry.identifier).second) {
            std::abort();
        }
    }
    const std::optional<ReadJournal> readAgain = parseJournal(formatJournal(*journal));
    if (!readAgain || !readAgain->unreadableLines.empty()) {
        std::abort();
    }
    const Journal* again = &readAgain->journal;
    if (!(again->owner == journal->owner) || again->version != journal->version || again->server != journal->server ||
        again->entries.size() != journal->entries.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < journal->entries.size(); ++i) {
        const JournalEntry& a = journal->entries[i];
        const JournalEntry& b = again->entries[i];
        if (a.identifier != b.identifier || !sameBits(a.before, b.before) || !sameBits(a.set, b.set) ||
            a.pending != b.pending || a.key != b.key) {
            std::abort();
        }
    }
    return 0;
}
