#include "app/capture_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "common/protocol_text.h"
#include "doubles/seams/fake_seams.h"

namespace {

using std::chrono::milliseconds;
using Running = std::set<std::pair<std::uint32_t, std::uint64_t>>;

// The tree's end over a run: each step is the processes running then (pid, creation time) and
// the table the check sees; whether that check tells the end.
TEST(TargetTreeWatch, EndsOnlyOnceTheTargetAndEveryDescendantSeenHaveEnded) {
    struct Step {
        Running running;
        ProcessTable table;
        bool ended;
    };
    struct Case {
        const char* name;
        Running atStart;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"the target ends alone", {{20, 5}}, {{{{20, 5}}, {}, false}, {{}, {}, true}, {{}, {}, false}}},
        {"a launcher that exits while its child plays on",
         {{20, 5}},
         {{{{20, 5}, {21, 6}}, {{21, {20, L"child"}}}, false},
          {{{21, 6}}, {{21, {1, L"child"}}}, false},
          {{{21, 6}, {22, 9}}, {{21, {1, L"child"}}, {22, {21, L"grandchild"}}}, false},
          {{{22, 9}}, {{22, {1, L"grandchild"}}}, false},
          {{}, {}, true}}},
        {"the target's id taken by another process", {{20, 5}}, {{{{20, 7}}, {}, true}}},
        {"a process older than the member whose id it names as parent is no child",
         {{20, 5}},
         {{{{20, 5}, {30, 2}}, {{30, {20, L"older"}}}, false}, {{{30, 2}}, {{30, {1, L"older"}}}, true}}},
        {"a target that never ran has no end", {}, {{{}, {}, false}, {{{20, 5}}, {}, false}}},
    };
    for (const Case& c : cases) {
        resetFakeSeams();
        fakeJournalWorld().running = c.atStart;
        TargetTreeWatch watch(20);
        EXPECT_EQ(watch.found(), !c.atStart.empty()) << c.name;
        // Followed (every process asked for at each pass) from a found target to its end only.
        bool followed = !c.atStart.empty();
        EXPECT_EQ(watch.following(), followed) << c.name;
        for (std::size_t step = 0; step < c.steps.size(); ++step) {
            fakeJournalWorld().running = c.steps[step].running;
            EXPECT_EQ(watch.endedNow(c.steps[step].table), c.steps[step].ended) << c.name << ", step " << step;
            followed = followed && !c.steps[step].ended;
            EXPECT_EQ(watch.following(), followed) << c.name << ", step " << step;
        }
    }
}

TEST(CaptureStatus, SilenceEvidenceFollowsEachPlatformsBasis) {
    const auto session = [](bool active, std::optional<bool> audible) {
        return AudioSession{L"s", 40, active, "", audible};
    };
    const auto samples = SilenceBasis::Samples;
    const auto levels = SilenceBasis::Levels;
    const auto silent = SilenceEvidence::Silent;
    const auto heard = SilenceEvidence::Heard;
    const auto neither = SilenceEvidence::Neither;
    struct Case {
        const char* name;
        std::vector<AudioSession> sessions;
        bool heardSample;
        SilenceBasis basis;
        SilenceEvidence evidence;
    };
    const Case cases[] = {
        {"meter shows sound, no sample heard", {session(true, true)}, false, samples, silent},
        {"meter shows sound, a sample heard", {session(true, true)}, true, samples, heard},
        {"a sample heard, no meter", {session(true, std::nullopt)}, true, samples, heard},
        {"meters quiet", {session(true, false), session(true, std::nullopt)}, false, samples, neither},
        {"an inactive session's meter does not count", {session(false, true)}, false, samples, neither},
        {"nothing recorded", {}, false, samples, neither},
        {"every playing stream muted or at 0", {session(true, false), session(false, true)}, false, levels, silent},
        {"one playing stream sounds", {session(true, false), session(true, true)}, false, levels, heard},
        {"samples do not count for levels", {session(true, false)}, true, levels, silent},
        {"no stream plays", {session(false, false)}, false, levels, neither},
        {"a stream whose level cannot be had does not count", {session(true, std::nullopt)}, false, levels, neither},
    };
    for (const Case& c : cases) {
        std::vector<const AudioSession*> recorded;
        for (const AudioSession& s : c.sessions) {
            recorded.push_back(&s);
        }
        EXPECT_EQ(silenceEvidence(recorded, c.heardSample, c.basis), c.evidence) << c.name;
    }
}

// Checks at the given times (ms) with their evidence, and the line each gives.
TEST(CaptureStatus, ASilentStretchIsToldOnceAfterTwoSecondsAndTwoChecksAndItsEndOnce) {
    const auto S = SilenceEvidence::Silent;
    const auto H = SilenceEvidence::Heard;
    const auto N = SilenceEvidence::Neither;
    const char* silentLine = kCaptureSilentLine;
    const char* backLine = kCaptureNotSilentLine;
    struct Check {
        int at;
        SilenceEvidence evidence;
        const char* line;
    };
    struct Case {
        const char* name;
        std::vector<Check> checks;
    };
    const Case cases[] = {
        {"told at two seconds, then once",
         {{0, S, nullptr},
          {1000, S, nullptr},
          {2000, S, silentLine},
          {3000, S, nullptr},
          {4000, H, backLine},
          {5000, H, nullptr}}},
        {"two checks two seconds apart suffice", {{0, S, nullptr}, {2500, S, silentLine}}},
        {"a single check never is", {{5000, S, nullptr}}},
        {"heard in between starts the stretch again",
         {{0, S, nullptr},
          {1000, S, nullptr},
          {1500, H, nullptr},
          {2500, S, nullptr},
          {4000, S, nullptr},
          {4500, S, silentLine}}},
        {"nothing playing ends the stretch without an end line",
         {{0, S, nullptr},
          {2000, S, silentLine},
          {3000, N, nullptr},
          {4000, S, nullptr},
          {7000, S, nullptr},
          {8000, H, backLine}}},
        {"heard without a told stretch says nothing", {{0, H, nullptr}, {1000, N, nullptr}}},
    };
    for (const Case& c : cases) {
        SilenceWatch watch;
        const std::chrono::steady_clock::time_point start{};
        for (const Check& check : c.checks) {
            const char* line = watch.check(check.evidence, start + milliseconds(check.at));
            EXPECT_EQ(line == nullptr ? "" : line, std::string(check.line == nullptr ? "" : check.line))
                << c.name << " at " << check.at;
        }
    }
}

// Losses added (µs) before each look (ms); what the look reports.
TEST(CaptureStatus, LostAudioIsSummedIntoAtMostOneLineASecondRoundedToTheMillisecond) {
    struct Look {
        std::uint64_t added;
        int at;
        std::optional<std::uint64_t> reported;
    };
    struct Case {
        const char* name;
        std::vector<Look> looks;
    };
    const Case cases[] = {
        {"nothing lost", {{0, 0, std::nullopt}}},
        {"rounded to the nearest", {{20'499, 0, 20}, {1'500, 1000, 2}}},
        {"within a second of a line: summed into the next",
         {{10'000, 0, 10}, {5'000, 400, std::nullopt}, {5'000, 900, std::nullopt}, {0, 1000, 10}}},
        {"less than half a millisecond waits", {{400, 0, std::nullopt}, {200, 100, 1}}},
    };
    for (const Case& c : cases) {
        LossReport report;
        std::atomic<std::uint64_t> lost{0};
        const std::chrono::steady_clock::time_point start{};
        for (const Look& look : c.looks) {
            lost += look.added;
            EXPECT_EQ(report.take(lost, start + milliseconds(look.at)), look.reported) << c.name << " at " << look.at;
        }
    }
}

}  // namespace
