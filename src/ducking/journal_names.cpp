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

std::string temporaryJournalName(const std::string& journalName, const ProcessIdentity& writer) {
    return journalName + "." + std::to_string(writer.pid) + "-" + std::to_string(writer.creationTime) +
           kTemporaryJournalExtension;
}

std::optional<ProcessIdentity> writerNamedBy(const std::string& temporaryName) {
    const std::string_view extension = kTemporaryJournalExtension;
    if (!endsWith(temporaryName, std::string(extension))) {
        return std::nullopt;
    }
    const std::string stem = temporaryName.substr(0, temporaryName.size() - extension.size());
    const std::size_t dot = stem.rfind('.');
    const std::size_t dash = stem.find('-', dot == std::string::npos ? 0 : dot);
    if (dot == std::string::npos || dash == std::string::npos ||
        journalFileKind(stem.substr(0, dot)) != JournalFileKind::Journal) {
        return ownerNamedBy(temporaryName);  // an earlier program's: journal2-<owner>.tmp
    }
    const std::string_view text(stem);
    const auto pid = parseWholeDecimal(text.substr(dot + 1, dash - dot - 1), UINT32_MAX);
    const auto time = parseWholeDecimal(text.substr(dash + 1));
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
