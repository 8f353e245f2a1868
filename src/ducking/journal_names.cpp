#include "ducking/journal_names.h"

#include <charconv>
#include <system_error>

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
    ProcessIdentity owner;
    const char* text = name.data();
    const auto pid = std::from_chars(text + dash + 1, text + second, owner.pid);
    const auto time = std::from_chars(text + second + 1, text + dot, owner.creationTime);
    if (pid.ec != std::errc() || pid.ptr != text + second || time.ec != std::errc() || time.ptr != text + dot) {
        return std::nullopt;
    }
    return owner;
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
