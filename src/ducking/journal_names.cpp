#include "ducking/journal_names.h"

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
