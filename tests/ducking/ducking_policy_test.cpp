#include "ducking/ducking_policy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

TEST(DuckingPolicy, PassPlanFollowsRatioChanges) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float ratio;
        float last;
        bool nothingSaved;
        PassKind kind;
        bool reapply;
    };
    const Case cases[] = {
        {"first pass ducks and re-applies", 0.2f, -1.0f, true, PassKind::Enumerate, true},
        {"steady ratio ducks new sessions only", 0.2f, 0.2f, false, PassKind::Enumerate, false},
        {"new ratio re-applies", 0.3f, 0.5f, false, PassKind::Enumerate, true},
        {"rise to one restores and clears", 1.0f, 0.5f, false, PassKind::RestoreAndClear, false},
        {"first pass at one restores", 1.0f, -1.0f, true, PassKind::RestoreAndClear, false},
        {"off and nothing saved idles", 1.0f, 1.0f, true, PassKind::Idle, false},
        {"exactly the threshold is off", 0.999f, 0.5f, false, PassKind::RestoreAndClear, false},
        {"just below the threshold ducks", 0.9989f, 0.5f, false, PassKind::Enumerate, true},
        {"not-a-number is always a change", nan, nan, true, PassKind::Enumerate, true},
    };
    for (const auto& c : cases) {
        const PassPlan plan = planPass(c.ratio, c.last, c.nothingSaved);
        EXPECT_EQ(plan.kind, c.kind) << c.name;
        EXPECT_EQ(plan.reapply, c.reapply) << c.name;
    }
}

TEST(DuckingPolicy, ThresholdIsTheSinglePrecisionValue) {
    std::uint32_t bits;
    std::memcpy(&bits, &kDuckOffThreshold, sizeof bits);
    EXPECT_EQ(bits, 0x3F7FBE77u);
}

TEST(DuckingPolicy, CandidatesFollowTheCaptureMode) {
    EXPECT_TRUE(isDuckingCandidate(10, false, false)) << "exclude mode ducks the unrelated";
    EXPECT_FALSE(isDuckingCandidate(10, true, false));
    EXPECT_TRUE(isDuckingCandidate(10, true, true)) << "include mode ducks the target's tree";
    EXPECT_FALSE(isDuckingCandidate(10, false, true));
    EXPECT_FALSE(isDuckingCandidate(0, false, false)) << "process id 0 is never touched";
    EXPECT_FALSE(isDuckingCandidate(0, true, true));
}

TEST(DuckingPolicy, ExcludedNamesAreTestedOnlyForProcessesTheTableHolds) {
    ProcessTable table;
    table[10] = {1, L"MyElectronApp.exe"};
    table[11] = {1, L"player.exe"};
    table[12] = {1, L"QUILLMERE-host.exe"};
    EXPECT_TRUE(isExcludedByName(10, table));
    EXPECT_FALSE(isExcludedByName(11, table));
    EXPECT_TRUE(isExcludedByName(12, table)) << "A-Z folded";
    EXPECT_FALSE(isExcludedByName(13, table)) << "a process the snapshot missed is not name-tested";
}

TEST(DuckingPolicy, APassLowersActiveCandidatesThatNoNameExcludes) {
    constexpr std::uint32_t kTarget = 20;
    constexpr std::uint32_t kOwn = 30;
    ProcessTable table;
    table[21] = {kTarget, L"child.exe"};
    table[31] = {kOwn, L"own-child.exe"};
    table[40] = {1, L"player.exe"};
    table[41] = {1, L"electron.exe"};
    struct Case {
        const char* name;
        std::uint32_t pid;
        bool active;
        bool includeMode;
        bool lowered;
    };
    const Case cases[] = {
        {"exclude mode: another application", 40, true, false, true},
        {"exclude mode: one the table misses", 50, true, false, true},
        {"a session that does not play", 40, false, false, false},
        {"exclude mode: the target's child", 21, true, false, false},
        {"exclude mode: the program's child", 31, true, false, false},
        {"an excluded name", 41, true, false, false},
        {"no process", 0, true, false, false},
        {"include mode: the target's child", 21, true, true, true},
        {"include mode: another application", 40, true, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isLoweredByPass(c.pid, c.active, kTarget, c.includeMode, table, kOwn), c.lowered) << c.name;
    }
}

TEST(DuckingPolicy, TheChoiceOfWhatIsLoweredHoldsInEitherModeAndKeptTreesAreNeverLowered) {
    constexpr std::uint32_t kTarget = 20;
    constexpr std::uint32_t kOwn = 30;
    ProcessTable table;
    table[21] = {kTarget, L"child.exe"};
    table[31] = {kOwn, L"own-child.exe"};
    table[40] = {1, L"player.exe"};
    table[41] = {1, L"electron.exe"};
    table[50] = {1, L"host.exe"};
    table[51] = {50, L"host-helper.exe"};
    table[52] = {51, L"host-renderer.exe"};
    table[60] = {kTarget, L"target-helper.exe"};
    const auto target = DuckedSessions::TargetTree;
    const auto others = DuckedSessions::Others;
    const auto byMode = DuckedSessions::ByMode;
    struct Case {
        const char* name;
        std::uint32_t pid;
        bool includeMode;
        DuckingChoice choice;
        bool lowered;
    };
    const Case cases[] = {
        {"others, include mode: another application", 40, true, {others, {}}, true},
        {"others, include mode: the target's child", 21, true, {others, {}}, false},
        {"others, include mode: the program's child", 31, true, {others, {}}, false},
        {"others, exclude mode: another application", 40, false, {others, {}}, true},
        {"others: an excluded name still", 41, true, {others, {}}, false},
        {"others: no process still", 0, true, {others, {}}, false},
        {"target, exclude mode: the target's child", 21, false, {target, {}}, true},
        {"target, exclude mode: the program's child", 31, false, {target, {}}, true},
        {"target, exclude mode: another application", 40, false, {target, {}}, false},
        {"target, include mode: another application", 40, true, {target, {}}, false},
        {"kept: the process itself", 50, false, {byMode, {50}}, false},
        {"kept: a grandchild", 52, false, {byMode, {50}}, false},
        {"kept: another application is still lowered", 40, false, {byMode, {50}}, true},
        {"kept twice: each one counts", 40, false, {byMode, {50, 40}}, false},
        {"kept within the target's tree, include mode", 60, true, {byMode, {60}}, false},
        {"kept within the target's tree: its sibling is still lowered", 21, true, {byMode, {60}}, true},
        {"kept, others, include mode", 51, true, {others, {50}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isLoweredByPass(c.pid, true, kTarget, c.includeMode, table, kOwn, c.choice), c.lowered) << c.name;
    }
}

TEST(DuckingPolicy, DuckedVolumeIsTheSinglePrecisionProduct) {
    EXPECT_EQ(duckedVolume(0.2f, 1.0f), 0.2f);
    EXPECT_EQ(duckedVolume(0.3f, 0.8f), 0.3f * 0.8f);
    EXPECT_EQ(duckedVolume(0.0f, 0.8f), 0.0f);
}

}  // namespace
