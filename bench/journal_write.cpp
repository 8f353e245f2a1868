// Measures, under Wine, what one change of the ducking ledger costs on disk: the journal
// rewritten whole (a temporary file flushed to the disk, then renamed over the journal
// write-through), for a journal of 4 sessions. Run:
// build/windows/run-under-wine.sh build/windows/bench/journal_write.exe [changes]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ducking/ducking_ledger.h"
#include "ducking/journal_store.h"

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::atoi(argv[1]) : 1000;
    DuckingLedger ledger;
    OwnJournal journal(currentProcessIdentity());
    for (int session = 0; session < 4; ++session) {
        ledger.recordLowered(
            L"{0.0.0.00000000}.{7f1e2a33-9c4b-4c1e-a1b2-c3d4e5f60718}|\\Device\\"
            L"HarddiskVolume3\\Apps\\player" +
                std::to_wstring(session) + L".exe%b{00000000-0000-0000-0000-000000000000}",
            0.8f, 0.16f);
    }
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> samples;
    for (int change = 0; change < changes; ++change) {
        ledger.recordReapplied(
            L"{0.0.0.00000000}.{7f1e2a33-9c4b-4c1e-a1b2-c3d4e5f60718}|\\Device\\"
            L"HarddiskVolume3\\Apps\\player0.exe%b{00000000-0000-0000-0000-000000000000}",
            change % 2 == 0 ? 0.4f : 0.16f);
        QueryPerformanceCounter(&before);
        journal.persist(ledger);
        QueryPerformanceCounter(&after);
        samples.push_back(1e6 * static_cast<double>(after.QuadPart - before.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
    }
    std::sort(samples.begin(), samples.end());
    std::printf("journal rewrite per change  changes %zu  median %7.1f us  p99 %7.1f us  max %7.1f us\n",
                samples.size(), samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back());
    ledger.finishRestore({});
    return 0;
}
