// Measures the journal's size, the ledger's and the program's memory over a run in which many
// short-lived streams are lowered and end, one after another, beside a long-lived lowered one:
// the ducking engine over the fake sound server and journal folder of the unit tests (the
// server's identifiers never come back, as a Linux sink input's). Each stream is found by one
// pass, lowered, and gone by the next. Resident memory is the process's (VmRSS), taken at each
// checkpoint, with the double's own records cleared as they go. Run (its lines go to standard
// error, which is not wanted here):
// build/bench/bench/journal_churn [streams] 2>/dev/null

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "doubles/seams/fake_seams.h"
#include "ducking/ducking_engine.h"
#include "ducking/journal_names.h"

namespace {

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int streams = argc > 1 ? std::atoi(argv[1]) : 10000;
    resetFakeSeams();
    const ProcessTable table = {{20, {1, L"player"}}, {21, {1, L"radio"}}};
    FakeSession radio;
    radio.identifier = L"sink-input:0";
    radio.pid = 21;
    radio.level = 0.8f;
    radio.key = "sink-input-by-application-name:Radio";
    FakeSessionVolumes sessions({radio});
    sessions.serverName = "pulse-server 1a2b3c4d";
    sessions.unseenReturn = false;
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    const std::string journal = journalFileName(fakeJournalWorld().self);
    // A name as long as applications may choose, so that the journal's growth would show.
    const std::string name(200, 'n');
    std::printf("%8s %14s %14s %12s\n", "streams", "journal bytes", "ledger entries", "VmRSS kB");
    for (int stream = 1; stream <= streams; ++stream) {
        FakeSession player;
        player.identifier = L"sink-input:" + std::to_wstring(stream);
        player.pid = 20;
        player.key = "sink-input-by-application-name:" + name + std::to_string(stream);
        sessions.add(player);
        engine.pass(10, false, 0.2f, false, table);
        sessions.erase(player.identifier);
        sessions.remembered.clear();
        if (stream == 100 || stream == 1000 || stream % 2500 == 0 || stream == streams) {
            std::printf("%8d %14zu %14zu %12ld\n", stream, fakeJournalWorld().files[journal].size(),
                        engine.ledger().entries().size(), residentKilobytes());
        }
    }
    return 0;
}
