#include "common/process_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "doubles/seams/fake_seams.h"

namespace {

constexpr std::uint32_t kOwnPid = 900;

// A chain 1000 <- 1001 <- ... <- 1000 + length: each entry's parent is the one before.
ProcessTable chain(std::uint32_t length) {
    ProcessTable table;
    table[1000] = {1, L"root.exe"};
    for (std::uint32_t pid = 1001; pid <= 1000 + length; ++pid) {
        table[pid] = {pid - 1, L"link.exe"};
    }
    return table;
}

TEST(ProcessTable, RelatedMeansTargetOwnProcessOrADescendantOfEither) {
    ProcessTable table = chain(3);
    table[50] = {kOwnPid, L"child-of-own.exe"};
    table[60] = {60, L"own-parent.exe"};
    table[70] = {0, L"orphan.exe"};
    struct Case {
        const char* name;
        std::uint32_t pid;
        std::uint32_t target;
        bool related;
    };
    const Case cases[] = {
        {"target itself", 1000, 1000, true},
        {"not in the table but the target", 5000, 5000, true},
        {"own process", kOwnPid, 1000, true},
        {"grandchild of target", 1003, 1001, true},
        {"ancestor is not related", 1000, 1003, false},
        {"child of own process", 50, 1000, true},
        {"self-parent ends the walk", 60, 1000, false},
        {"parent 0 ends the walk", 70, 1000, false},
        {"missing from the table", 4242, 1000, false},
        {"pid 0", 0, 1000, false},
        {"target 0", 1003, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isRelatedProcess(c.pid, c.target, table, kOwnPid), c.related) << c.name;
    }
}

TEST(ProcessTable, WalkFindsTheSixtyFourthAncestorButNotTheSixtyFifth) {
    const ProcessTable table = chain(70);
    EXPECT_TRUE(isRelatedProcess(1064, 1000, table, kOwnPid)) << "the target is the 64th ancestor";
    EXPECT_FALSE(isRelatedProcess(1065, 1000, table, kOwnPid)) << "the target is the 65th ancestor";
}

TEST(ProcessTable, LabelNamesTheProcessWhenTheTableKnowsIt) {
    ProcessTable table;
    table[4242] = {1, L"player.exe"};
    table[7] = {1, L""};
    table[8] = {1, L"Caf\u00e9.exe"};
    table[9] = {1, L"a\nb\\"};  // a name the process chose: escaped
    EXPECT_EQ(processLabel(4242, table), "player.exe (pid 4242)");
    EXPECT_EQ(processLabel(7, table), "pid 7");
    EXPECT_EQ(processLabel(99, table), "pid 99");
    EXPECT_EQ(processLabel(8, table), "Caf\xc3\xa9.exe (pid 8)");
    EXPECT_EQ(processLabel(9, table), "a\\x0ab\\ (pid 9)");
    EXPECT_EQ(processLabel(4294967295u, table), "pid 4294967295");
}

// Each step: the processes running then (pid, creation time) and in a snapshot, the ids a pass
// asks about, whether it wants every process fresh; whether a snapshot is taken, and how the
// table the pass gets relates the session 30 to the target 20.
TEST(KeptProcessTable, ASnapshotIsTakenOnlyForAProcessItDoesNotKnowOrWhenAskedFresh) {
    struct Step {
        const char* name;
        std::set<std::pair<std::uint32_t, std::uint64_t>> running;
        ProcessTable processes;
        std::vector<std::uint32_t> asked;
        bool fresh;
        bool snapshot;
        bool related;
    };
    const ProcessTable unrelated = {{20, {1, L"target"}}, {30, {1, L"player"}}};
    const ProcessTable descendant = {{20, {1, L"target"}}, {25, {20, L"launcher"}}, {30, {25, L"player"}}};
    const Step steps[] = {
        {"the first pass", {{20, 5}, {30, 6}}, unrelated, {30, 0}, false, true, false},
        {"the same process again", {{20, 5}, {30, 6}}, descendant, {30}, false, false, false},
        {"the id taken by a new process", {{20, 5}, {30, 9}}, descendant, {30}, false, true, true},
        {"known once more", {{20, 5}, {30, 9}}, unrelated, {30}, false, false, true},
        {"a new process of the target's tree", {{20, 5}, {30, 9}, {31, 10}}, descendant, {30, 31}, false, true, true},
        {"ended: its entry stays until a snapshot", {{20, 5}}, unrelated, {30, 31}, false, false, true},
        {"every process fresh", {{20, 5}}, unrelated, {30}, true, true, false},
        {"asked about none", {{20, 5}}, descendant, {}, false, false, false},
    };
    resetFakeSeams();
    KeptProcessTable kept;
    for (const Step& step : steps) {
        fakeJournalWorld().running = step.running;
        fakeJournalWorld().processes = step.processes;
        const int before = fakeJournalWorld().snapshots;
        const ProcessTable& table = kept.forProcesses(step.asked, step.fresh);
        EXPECT_EQ(fakeJournalWorld().snapshots - before, step.snapshot ? 1 : 0) << step.name;
        EXPECT_EQ(isRelatedProcess(30, 20, table, kOwnPid), step.related) << step.name;
    }
}

}  // namespace
