#include "listing/session_listing.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/process_identity.h"
#include "common/protocol_text.h"
#include "common/process_table.h"
#include "common/pulse_connection_linux.h"
#include "common/text.h"
#include "listing/json_line.h"
#include "listing/listing_rules.h"

void listAudioSessions() {
    std::string error;
    const std::unique_ptr<PulseConnection> pulse = PulseConnection::open("Quillmere", error);
    if (!pulse) {
        LogLine() << kServerUnreachablePrefix << error;
        writeJsonListLine({});
        return;
    }
    const ProcessTable table = snapshotProcesses();
    const std::uint32_t ownPid = currentProcessId();
    // One record per process, in ascending pid order: the stream's own binary name, or the
    // process table's when the stream names none.
    std::map<std::uint32_t, std::wstring> processes;
    const std::vector<PulseConnection::SinkInput> inputs =
        pulse->sinkInputs().value_or(PulseConnection::SinkInputs{}).inputs;
    for (const PulseConnection::SinkInput& input : inputs) {
        std::wstring name = utf8ToWide(input.binary);
        const auto entry = table.find(input.pid);
        if (name.empty() && entry != table.end()) {
            name = entry->second.exeName;
        }
        if (!name.empty() && !isHiddenSession(input.pid, name, ownPid)) {
            processes.emplace(input.pid, name);
        }
    }
    std::vector<std::string> records;
    for (const auto& [pid, name] : processes) {
        records.push_back(sessionRecord(pid, name));
    }
    writeJsonListLine(records);
}
