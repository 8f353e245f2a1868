// Measures, under Wine, what one change of the ducking ledger costs on disk: the journal
// rewritten whole (a temporary file flushed to the disk, then renamed over the journal
// write-through), for a journal of 4 sessions, in alternation with the same text written and
// renamed without any flush (what the program did before a new ratio and after a restore until
// every rewrite was made durable), so that the flush's cost is a ratio within one run. Run:
// build/windows/run-under-wine.sh build/windows/bench/journal_write.exe [changes]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ducking/ducking_journal.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_store.h"

namespace {

const std::wstring kPlayer0 =
    L"{0.0.0.00000000}.{7f1e2a33-9c4b-4c1e-a1b2-c3d4e5f60718}|\\Device\\HarddiskVolume3\\Apps\\player0.exe%b"
    L"{00000000-0000-0000-0000-000000000000}";

// The rewrite without a flush, beside the program's journal.
void writeUnflushed(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".unflushed.tmp";
    const HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(temporary.c_str(), (path + L".unflushed").c_str(), MOVEFILE_REPLACE_EXISTING);
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("journal rewrite per change, %-10s changes %zu  median %7.1f us  p99 %7.1f us  max %7.1f us\n", what,
                samples.size(), samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int changes = argc > 1 ? std::atoi(argv[1]) : 1000;
    const ProcessIdentity self = currentProcessIdentity();
    DuckingLedger ledger;
    OwnJournal journal(self);
    for (int session = 0; session < 4; ++session) {
        ledger.recordLowered(kPlayer0.substr(0, kPlayer0.find(L"player") + 6) + std::to_wstring(session) +
                                 kPlayer0.substr(kPlayer0.find(L".exe")),
                             0.8f, 0.16f);
    }
    const std::wstring unflushedPath = journalPathOf(self).native();
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    const auto elapsedUs = [&] {
        return 1e6 * static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart);
    };
    std::vector<double> flushed;
    std::vector<double> unflushed;
    for (int change = 0; change < changes; ++change) {
        ledger.recordReapplied(kPlayer0, change % 2 == 0 ? 0.4f : 0.16f);
        QueryPerformanceCounter(&before);
        journal.persist(ledger);
        QueryPerformanceCounter(&after);
        flushed.push_back(elapsedUs());
        QueryPerformanceCounter(&before);
        writeUnflushed(unflushedPath, formatJournal(ledger.journal(self)));
        QueryPerformanceCounter(&after);
        unflushed.push_back(elapsedUs());
    }
    report("flushed", flushed);
    report("unflushed", unflushed);
    std::printf("flushed / unflushed median: %.2f\n", median(flushed) / median(unflushed));
    DeleteFileW((unflushedPath + L".unflushed").c_str());
    ledger.finishRestore({});
    return 0;
}
