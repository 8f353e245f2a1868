#include "ducking/ducking_journal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <type_traits>
#include <algorithm>

#include "common/text.h"

namespace {

constexpr std::string_view kHeaderV1 = "quillmere ducking journal 1";
constexpr std::string_view kHeaderV2 = "quillmere ducking journal 2";

bool isPlain(wchar_t unit) {
    return unit > 0x20 && unit < 0x7F && unit != L'%';
}

template <class Units>
std::string escapeUnits(const Units& identifier) {
    std::string text;
    for (const auto unit : identifier) {
        if (isPlain(unit)) {
            text.push_back(static_cast<char>(unit));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "%%%04X",
                          static_cast<unsigned>(static_cast<std::make_unsigned_t<decltype(unit)>>(unit)) & 0xFFFFu);
            text += escaped;
        }
    }
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::wstring> unescapeIdentifier(std::string_view text) {
    std::wstring identifier;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            if (!isPlain(static_cast<unsigned char>(text[i]))) {
                return std::nullopt;
            }
            identifier.push_back(static_cast<wchar_t>(text[i]));
            continue;
        }
        if (i + 4 >= text.size()) {
            return std::nullopt;
        }
        unsigned unit = 0;
        for (std::size_t k = 1; k <= 4; ++k) {
            const int digit = hexDigit(text[i + k]);
            if (digit < 0) {
                return std::nullopt;
            }
            unit = unit * 16 + static_cast<unsigned>(digit);
        }
        identifier.push_back(static_cast<wchar_t>(unit));
        i += 4;
    }
    if (identifier.empty()) {
        return std::nullopt;
    }
    return identifier;
}

std::string formatVolume(float volume) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(volume));
    return text;
}

std::optional<float> parseVolume(std::string_view text, float limit) {
    if (text.empty() || text.size() > 24) {
        return std::nullopt;
    }
    const std::string copy(text);
    char* end = nullptr;
    // An overflow reads as infinity, which the range test refuses; an underflow to a subnormal
    // volume is still the value that was written.
    const float volume = std::strtof(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(volume) || !(volume >= 0.0f && volume <= limit)) {
        return std::nullopt;
    }
    return volume;
}

// A whole decimal number of at most 20 characters, the most that a 64-bit one is written with.
std::optional<std::uint64_t> parseNumber(std::string_view text) {
    return text.size() > 20 ? std::nullopt : parseWholeDecimal(text);
}

// Splits at single spaces; an empty word (two spaces, a leading or trailing one) is an error.
std::optional<std::vector<std::string_view>> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        const std::string_view word = line.substr(start, space == std::string_view::npos ? line.npos : space - start);
        if (word.empty()) {
            return std::nullopt;
        }
        result.push_back(word);
        if (space == std::string_view::npos) {
            return result;
        }
        start = space + 1;
    }
}

}  // namespace

std::string formatJournal(const Journal& journal) {
    std::string text(journal.version == 1 ? kHeaderV1 : kHeaderV2);
    text += "\nowner " + std::to_string(journal.owner.pid) + " " + std::to_string(journal.owner.creationTime) + "\n";
    if (journal.version != 1 && !journal.server.empty()) {
        text += "server " + escapeUnits(journal.server) + "\n";
    }
    // The boot has a line of its own after the server's: a reader that does not know it takes
    // it for one entry it cannot read, and reads the owner, the server and the rest as ever.
    if (journal.version != 1 && !journal.boot.empty()) {
        text += "boot " + escapeUnits(journal.boot) + "\n";
    }
    for (const JournalEntry& entry : journal.entries) {
        text += entry.pending ? "pending " : "lowered ";
        text += formatVolume(entry.before);
        text += ' ';
        text += formatVolume(entry.set);
        if (entry.previousSet) {
            text += ',';
            text += formatVolume(*entry.previousSet);
        }
        text += ' ';
        text += escapeUnits(entry.identifier);
        if (journal.version != 1 && !entry.key.empty()) {
            text += ' ';
            text += escapeUnits(entry.key);
        }
        text += '\n';
    }
    return text + "end\n";
}

namespace {

// A key's bytes from the units they were written as; nothing for a unit past one byte.
std::optional<std::string> narrowKey(const std::wstring& units) {
    std::string key;
    for (const wchar_t unit : units) {
        if (static_cast<unsigned>(unit) > 0xFFu) {
            return std::nullopt;
        }
        key.push_back(static_cast<char>(unit));
    }
    return key;
}

std::optional<JournalEntry> parseEntry(std::string_view line, int version, float levelLimit) {
    const auto fields = words(line);
    if (!fields || fields->size() < 4 || fields->size() > (version == 1 ? 4u : 5u) ||
        ((*fields)[0] != "lowered" && (*fields)[0] != "pending")) {
        return std::nullopt;
    }
    const std::string_view setField = (*fields)[2];
    const std::size_t comma = setField.find(',');
    JournalEntry entry;
    entry.pending = (*fields)[0] == "pending";
    const auto before = parseVolume((*fields)[1], levelLimit);
    const auto set = parseVolume(setField.substr(0, comma), levelLimit);
    if (comma != std::string_view::npos) {
        entry.previousSet = parseVolume(setField.substr(comma + 1), levelLimit);
        if (!entry.previousSet) {
            return std::nullopt;
        }
    }
    auto identifier = unescapeIdentifier((*fields)[3]);
    if (!before || !set || !identifier) {
        return std::nullopt;
    }
    if (fields->size() == 5) {
        const auto units = unescapeIdentifier((*fields)[4]);
        auto key = units ? narrowKey(*units) : std::nullopt;
        if (!key) {
            return std::nullopt;
        }
        entry.key = std::move(*key);
    }
    entry.identifier = std::move(*identifier);
    entry.before = *before;
    entry.set = *set;
    return entry;
}

}  // namespace

std::optional<ReadJournal> parseJournal(std::string_view text, float levelLimit) {
    if (text.size() > kMaxJournalBytes || text.empty() || text.back() != '\n') {
        return std::nullopt;
    }
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 3 || (lines.front() != kHeaderV1 && lines.front() != kHeaderV2) || lines.back() != "end") {
        return std::nullopt;
    }
    ReadJournal read;
    Journal& journal = read.journal;
    journal.version = lines.front() == kHeaderV1 ? 1 : 2;
    if (journal.version == 1) {
        levelLimit = std::min(levelLimit, 1.0f);
    }
    const auto owner = words(lines[1]);
    if (!owner || owner->size() != 3 || (*owner)[0] != "owner") {
        return std::nullopt;
    }
    const auto pid = parseNumber((*owner)[1]);
    const auto creationTime = parseNumber((*owner)[2]);
    if (!pid || *pid > UINT32_MAX || !creationTime) {
        return std::nullopt;
    }
    journal.owner = {static_cast<std::uint32_t>(*pid), *creationTime};
    std::size_t first = 2;
    if (journal.version == 2 && lines[2].substr(0, 7) == "server ") {
        const auto units = unescapeIdentifier(lines[2].substr(7));
        auto server = units ? narrowKey(*units) : std::nullopt;
        if (!server) {
            return std::nullopt;  // entries of an unknown server must never be applied
        }
        journal.server = std::move(*server);
        first = 3;
    }
    if (journal.version == 2 && first + 1 < lines.size() && lines[first].substr(0, 5) == "boot ") {
        const auto units = unescapeIdentifier(lines[first].substr(5));
        auto boot = units ? narrowKey(*units) : std::nullopt;
        if (!boot) {
            return std::nullopt;  // an owner of an unknown boot must never pass for a running one
        }
        journal.boot = std::move(*boot);
        ++first;
    }
    std::set<std::wstring> seen;
    for (std::size_t i = first; i + 1 < lines.size(); ++i) {
        std::optional<JournalEntry> entry = parseEntry(lines[i], journal.version, levelLimit);
        if (!entry || !seen.insert(entry->identifier).second) {
            read.unreadableLines.push_back(i + 1);
            continue;
        }
        journal.entries.push_back(std::move(*entry));
    }
    return read;
}

RecoveryAction recoveryAction(std::optional<float> current, float set, std::optional<float> previousSet,
                              LevelMatch match) {
    if (!current) {
        return RecoveryAction::Keep;
    }
    return match(*current, set) || match(*current, previousSet) ? RecoveryAction::Restore : RecoveryAction::Drop;
}

float originalVolume(const std::wstring& identifier, float current, const std::vector<Journal>& otherLiveJournals,
                     LevelMatch match) {
    for (const Journal& journal : otherLiveJournals) {
        for (const JournalEntry& entry : journal.entries) {
            if (entry.identifier == identifier && (match(current, entry.set) || match(current, entry.previousSet))) {
                return entry.before;
            }
        }
    }
    return current;
}
