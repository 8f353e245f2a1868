#include "ducking/journal_names.h"

#include <cstdint>
#include <string_view>

#include "common/text.h"

namespace {

bool startsWith(const std::string& name, const char* start) {
    return name.rfind(start, 0) == 0;
}

bool endsWith(const std::string& name, const std::string& end) {
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string journalFileName(const ProcessIdentity& owner) {
    return "journal2-" + std::to_string(owner.pid) + "-" + std::to_string(owner.creationTime) + ".journal";
}

std::optional<ProcessIdentity> ownerNamedBy(const std::string& name) {
    const std::size_t dash = name.find('-');
    const std::size_t second = name.find('-', dash + 1);
    const std::size_t dot = name.find('.', second + 1);
    if (dash == std::string::npos || second == std::string::npos || dot == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view text(name);
    const auto pid = parseWholeDecimal(text.substr(dash + 1, second - dash - 1), UINT32_MAX);
    const auto time = parseWholeDecimal(text.substr(second + 1, dot - second - 1));
    if (!pid || !time) {
        return std::nullopt;
    }
    return ProcessIdentity{static_cast<std::uint32_t>(*pid), *time};
}

JournalFileKind journalFileKind(const std::string& name) {
    const bool first = startsWith(name, "journal-");
    const bool second = startsWith(name, "journal2-");
    if ((first && endsWith(name, ".txt")) || (second && endsWith(name, ".journal"))) {
        return JournalFileKind::Journal;
    }
    if ((first || second) && endsWith(name, kTemporaryJournalExtension)) {
        return JournalFileKind::Temporary;
    }
    return JournalFileKind::Other;
}
