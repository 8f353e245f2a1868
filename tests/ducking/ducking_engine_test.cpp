// The ducking engine's rules over a fake device and a fake journal folder: which sessions a pass
// lowers, what it saves and writes first, what a restore and a recovery put back.

#include "ducking/ducking_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "doubles/seams/fake_seams.h"
#include "ducking/ducking_journal.h"
#include "ducking/journal_recovery.h"
#include "support/logged_lines.h"

namespace {

using Remembered = std::vector<std::tuple<std::wstring, std::string, float>>;

FakeSession session(const wchar_t* identifier, std::uint32_t pid, float level) {
    FakeSession fake;
    fake.identifier = identifier;
    fake.pid = pid;
    fake.level = level;
    return fake;
}

// The target 10 with its child 11, the program itself (100), others.
const ProcessTable kTable = {{10, {1, L"target.exe"}}, {11, {10, L"child.exe"}}, {100, {1, L"host.exe"}},
                             {20, {1, L"player.exe"}}, {21, {1, L"paused.exe"}}, {30, {1, L"Electron.exe"}},
                             {40, {1, L"refused.exe"}}};

class DuckingEngineTest : public ::testing::Test {
protected:
    void SetUp() override { resetFakeSeams(); }
    const std::map<std::string, std::string>& files() { return fakeJournalWorld().files; }
};

TEST_F(DuckingEngineTest, APassLowersWhatTheModeSelects) {
    struct Case {
        const char* name;
        bool includeMode;
        std::vector<std::wstring> lowered;
    };
    for (const Case& c : {Case{"exclude: everything outside both trees", false, {L"other"}},
                          Case{"include: the target's and the program's trees", true, {L"target", L"child", L"own"}}}) {
        resetFakeSeams();
        FakeSession paused = session(L"paused", 21, 0.5f);
        paused.active = false;
        FakeSessionVolumes sessions({session(L"target", 10, 0.5f), session(L"child", 11, 0.5f),
                                     session(L"own", 100, 0.5f), session(L"other", 20, 0.5f), paused,
                                     session(L"electron", 30, 0.5f), session(L"no process", 0, 0.5f),
                                     session(L"", 20, 0.5f)});
        DuckingEngine engine(sessions, fakeJournalWorld().self);
        engine.pass(10, c.includeMode, 0.5f, false, kTable);
        for (const wchar_t* name : {L"target", L"child", L"own", L"other", L"paused", L"electron", L"no process"}) {
            const bool expected = std::find(c.lowered.begin(), c.lowered.end(), name) != c.lowered.end();
            EXPECT_EQ(sessions[name].sets, expected ? std::vector<float>{0.25f} : std::vector<float>{}) << c.name;
        }
        EXPECT_TRUE(sessions[L""].sets.empty()) << "a session without identifier cannot be kept";
    }
}

TEST_F(DuckingEngineTest, FirstLoweringSavesANewRatioStartsFromItAndTheRestorePutsItBack) {
    FakeSessionVolumes sessions({session(L"a", 20, 0.8f)});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16"});
    ASSERT_EQ(sessions[L"a"].journalAtSet.size(), 1u);
    EXPECT_NE(sessions[L"a"].journalAtSet[0].find("\nlowered 0.800000012 0.160000011 a\n"), std::string::npos)
        << "the journal lists the session before its volume is set";

    sessions[L"a"].level = 0.9f;  // the user raises it: no new ratio, no change
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{});
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, true, kTable); }),
              Lines{"[win-helper] Updating ducking session player.exe (pid 20): 0.8 -> 0.4"});
    EXPECT_NE(sessions[L"a"].journalAtSet[1].find("\nlowered 0.800000012 0.400000006,0.160000011 a\n"),
              std::string::npos)
        << "both volumes while the new one is set";

    sessions[L"a"].level = 0.7f;  // the orderly restore puts the volume from before back regardless
    EXPECT_EQ(logged([&] { engine.restore(); }), (Lines{"[win-helper] Restoring audio session volumes...",
                                                        "[win-helper] Restored session volume to: 0.8"}));
    EXPECT_EQ(sessions[L"a"].level, 0.8f);
    EXPECT_TRUE(files().empty()) << "nothing left to put back: no journal";
}

TEST_F(DuckingEngineTest, FailuresAreReportedOnceAndNothingUnjournaledStaysLowered) {
    FakeSession noVolume = session(L"v", 20, 0.8f);
    noVolume.volumeFails = -2147467262;
    FakeSession unreadable = session(L"r", 21, 0.8f);
    unreadable.readFails = -2147024891;
    FakeSession refused = session(L"s", 40, 0.8f);
    refused.setFails = -2147024809;
    FakeSessionVolumes sessions({noVolume, unreadable, refused});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    const Lines failures = {"[win-helper] Failed to access session volume for player.exe (pid 20) hr=-2147467262",
                            "[win-helper] Failed to read session volume for paused.exe (pid 21) hr=-2147024891",
                            "[win-helper] Failed to duck session refused.exe (pid 40) hr=-2147024809"};
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), failures);
    EXPECT_TRUE(engine.ledger().empty()) << "the refused lowering is taken back";
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{failures[2]})
        << "a refused set is tried again each pass; the other two were said once";

    sessions[L"s"].setFails.reset();
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Ducking session refused.exe (pid 40): 0.8 -> 0.16"});
    sessions[L"s"].setFails = -2147024809;
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, true, kTable); }),
              Lines{"[win-helper] Failed to update ducked session refused.exe (pid 40) hr=-2147024809"});
}

TEST_F(DuckingEngineTest, WithoutItsJournalWrittenNoSessionIsLoweredAndTheWriteIsTriedAgain) {
    FakeSessionVolumes sessions({session(L"a", 20, 0.8f)});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    fakeJournalWorld().writesFail = 28;
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Failed to write ducking journal: journal2-100-1.journal error=28"});
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{}) << "said once per run";
    EXPECT_TRUE(sessions[L"a"].sets.empty());
    EXPECT_TRUE(engine.ledger().empty());

    fakeJournalWorld().writesFail.reset();
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16"});

    // A new ratio whose journal cannot be written leaves the session at the old one, and the
    // next pass that can write it sets it, with no new ratio line in between.
    fakeJournalWorld().writesFail = 13;
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, true, kTable); }), Lines{});
    EXPECT_EQ(sessions[L"a"].sets.size(), 1u) << "still at the first lowering";
    EXPECT_NE(files().at("journal2-100-1.journal").find("\nlowered 0.800000012 0.160000011 a\n"), std::string::npos);
    fakeJournalWorld().writesFail.reset();
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, false, kTable); }),
              Lines{"[win-helper] Updating ducking session player.exe (pid 20): 0.8 -> 0.4"});
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, false, kTable); }), Lines{});

    // No folder to write in: said once, at the first session that would be lowered.
    for (const JournalFolderFailure& failure :
         {JournalFolderFailure{"/state/quillmere/ducking", 20}, JournalFolderFailure{"", 2}}) {
        resetFakeSeams();
        fakeJournalWorld().folderFails = failure;
        FakeSession later = session(L"b", 20, 0.8f);
        later.present = false;
        FakeSessionVolumes device({later});
        DuckingEngine run(device, fakeJournalWorld().self);
        EXPECT_EQ(logged([&] { run.pass(10, false, 0.2f, false, kTable); }), Lines{}) << "nothing to lower yet";
        device[L"b"].present = true;
        const Lines said{"[win-helper] Failed to write ducking journal: " + failure.folder +
                         " error=" + std::to_string(failure.error)};
        EXPECT_EQ(logged([&] { run.pass(10, false, 0.2f, false, kTable); }), said);
        EXPECT_EQ(logged([&] { run.pass(10, false, 0.2f, false, kTable); }), Lines{});
        EXPECT_TRUE(device[L"b"].sets.empty());
    }
}

TEST_F(DuckingEngineTest, ASessionAnotherRunningProgramLoweredKeepsThatProgramsOriginal) {
    struct Case {
        const char* name;
        float current;
        const char* otherSet;
        LevelMatch match;
        const char* line;
    };
    const Case cases[] = {
        {"exact levels", 0.16f, "0.159999996", {}, "0.8 -> 0.16"},
        {"a level another program did not set", 0.5f, "0.159999996", {}, "0.5 -> 0.1"},
        {"levels in steps: within half a step", 0.3536f, "0.353553385", {0.00005f, 1e-6f}, "0.8 -> 0.16"},
        {"levels in steps, read exactly", 0.3536f, "0.353553385", {}, "0.3536 -> 0.07072"},
    };
    for (const Case& c : cases) {
        resetFakeSeams();
        fakeJournalWorld().running.insert({7, 8});
        fakeJournalWorld().files["journal-7-8.txt"] =
            std::string("quillmere ducking journal 1\nowner 7 8\nlowered 0.800000012 ") + c.otherSet + " a\nend\n";
        FakeSessionVolumes sessions({session(L"a", 20, c.current)}, c.match);
        DuckingEngine engine(sessions, fakeJournalWorld().self);
        EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
                  Lines{std::string("[win-helper] Ducking session player.exe (pid 20): ") + c.line})
            << c.name;
    }
}

TEST_F(DuckingEngineTest, ASessionAnotherProgramPutsBackWhileThisOneKeepsItLoweredIsLoweredAgain) {
    const std::string theirs = "quillmere ducking journal 1\nowner 7 8\nlowered 0.800000012 0.159999996 a\nend\n";
    const std::string lowered = "[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16";
    struct Case {
        const char* name;
        bool otherRuns;
        bool otherLists;
        float level;  // after the other program's turn
        Lines lines;
        bool paused = false;  // while the other program takes its turn
    };
    const Case cases[] = {
        {"it ended and put back the volume from before", false, false, 0.8f, {lowered}},
        {"it let go of the session and put it back", true, false, 0.8f, {lowered}},
        {"its restore landed a step off the volume from before", false, false, 0.7995f, {lowered}},
        {"it ended while the session was paused", false, false, 0.8f, {lowered}, true},
        {"it still lists the session, which the user raised", true, true, 0.8f, {}},
        {"it let go, and the user chose another volume", true, false, 0.5f, {}},
        {"it was killed: its run's journal lists the session at the level set", false, true, 0.16f, {}},
        {"it was killed, and the session was raised before its recovery", false, true, 0.8f, {}},
    };
    for (const Case& c : cases) {
        resetFakeSeams();
        fakeJournalWorld().running.insert({7, 8});
        fakeJournalWorld().files["journal-7-8.txt"] = theirs;
        FakeSessionVolumes sessions({session(L"a", 20, 0.16f)});
        DuckingEngine engine(sessions, fakeJournalWorld().self);
        ASSERT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{lowered}) << c.name;
        if (!c.otherRuns) {
            fakeJournalWorld().running.erase({7, 8});
        }
        if (!c.otherLists) {
            fakeJournalWorld().files.erase("journal-7-8.txt");
        }
        sessions[L"a"].level = c.level;
        if (c.paused) {
            sessions[L"a"].active = false;
            EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{}) << c.name;
            sessions[L"a"].active = true;
        }
        EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), c.lines) << c.name;
        EXPECT_FLOAT_EQ(sessions[L"a"].level, c.lines.empty() ? c.level : 0.16f) << c.name;
        EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{}) << "once: " << c.name;
    }
}

TEST_F(DuckingEngineTest, ASessionOfAProgramThatEndsDuringThePassIsNeverSavedAtTheVolumeItSet) {
    fakeJournalWorld().running.insert({9, 9});
    fakeJournalWorld().files["journal2-9-9.journal"] =
        "quillmere ducking journal 2\nowner 9 9\nlowered 0.800000012 0.159999996 a\nend\n";
    FakeSessionVolumes sessions({session(L"a", 20, 0.16f)});
    // Killed after the pass looked at the ended runs, before it read the running ones.
    sessions.onRead = [] { fakeJournalWorld().running.erase({9, 9}); };
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16"});
}

TEST_F(DuckingEngineTest, ARestoreKeepsWhatItCannotPutBackPendingAndPutsItBackWhileStillAtTheVolumeSet) {
    FakeSessionVolumes sessions({session(L"away", 20, 0.8f), session(L"refused", 21, 0.6f)});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    engine.pass(10, false, 0.5f, false, kTable);
    sessions[L"away"].present = false;
    sessions[L"refused"].setFails = -2147467259;
    EXPECT_EQ(logged([&] { engine.restore(); }),
              (Lines{"[win-helper] Restoring audio session volumes...",
                     "[win-helper] Failed to restore session volume hr=-2147467259"}));
    EXPECT_EQ(sessions.remembered,
              (Remembered{{L"away", "", 0.8f}, {L"refused", "", 0.6f}, {L"away", "", 0.8f}, {L"refused", "", 0.6f}}))
        << "each lowering, then each session the restore did not put back";
    EXPECT_TRUE(engine.ledger().nothingLowered());
    ASSERT_EQ(files().size(), 1u) << "both still listed, pending";
    EXPECT_NE(files().begin()->second.find("pending 0.800000012 0.400000006 away"), std::string::npos);

    // Back at the volume set, a pending session keeps its original when lowered again...
    sessions[L"away"].present = true;
    sessions[L"refused"].setFails.reset();
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, false, kTable); }),
              (Lines{"[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.4",
                     "[win-helper] Ducking session paused.exe (pid 21): 0.6 -> 0.3"}));
    // ...and a pending session the user changed meanwhile is left as the user set it.
    engine.restore();
    sessions[L"away"].present = false;
    engine.pass(10, false, 0.5f, false, kTable);
    engine.restore();
    sessions[L"away"].present = true;
    sessions[L"away"].level = 0.9f;
    EXPECT_EQ(logged([&] { engine.restore(); }), Lines{"[win-helper] Restoring audio session volumes..."});
    EXPECT_EQ(sessions[L"away"].level, 0.9f);
    EXPECT_TRUE(files().empty());
}

TEST_F(DuckingEngineTest, RecoveryPutsBackWhatAnEndedRunLeftAtTheVolumeItSet) {
    const std::string journal =
        "quillmere ducking journal 2\nowner 7 8\n"
        "lowered 0.800000012 0.159999996 at-set\n"
        "lowered 0.800000012 0.400000006,0.159999996 mid-ratio\n"
        "lowered 0.5 0.100000001 changed\n"
        "lowered 0.5 0.100000001 away\n"
        "pending 0.5 0.100000001 refused\n"
        "end\n";
    FakeSession refused = session(L"refused", 21, 0.1f);
    refused.setFails = -1;
    FakeSessionVolumes sessions({session(L"at-set", 20, 0.16f), session(L"mid-ratio", 20, 0.16f),
                                 session(L"changed", 20, 0.3f), refused, session(L"old", 20, 0.25f)});
    fakeJournalWorld().files["journal2-7-8.journal"] = journal;
    // An earlier program's journal beside it, read and rewritten in its own version.
    fakeJournalWorld().files["journal-5-6.txt"] =
        "quillmere ducking journal 1\nowner 5 6\nlowered 0.5 0.25 old\nlowered 0.5 0.25 gone\nend\n";
    fakeJournalWorld().running.insert({7, 8});
    fakeJournalWorld().running.insert({5, 6});
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(sessions, fakeJournalWorld().self); }), Lines{})
        << "a running program's journal is its own";

    fakeJournalWorld().running.clear();
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(sessions, fakeJournalWorld().self); }),
              (Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 0.5",
                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8",
                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8"}));
    EXPECT_EQ(sessions[L"at-set"].level, 0.8f);
    EXPECT_EQ(sessions[L"mid-ratio"].level, 0.8f);
    EXPECT_EQ(sessions[L"changed"].level, 0.3f);
    EXPECT_EQ(sessions[L"old"].level, 0.5f);
    EXPECT_EQ(files().at("journal2-7-8.journal"),
              "quillmere ducking journal 2\nowner 7 8\nlowered 0.5 0.100000001 away\npending 0.5 0.100000001 "
              "refused\nend\n")
        << "what was not found or not set stays for a later try";
    EXPECT_EQ(files().at("journal-5-6.txt"), "quillmere ducking journal 1\nowner 5 6\nlowered 0.5 0.25 gone\nend\n");

    // The guardian's recovery of its own program: the same rule, no line; levels in steps.
    FakeSessionVolumes stepped({session(L"away", 20, 0.1f)}, {0.00005f, 1e-6f});
    stepped[L"away"].level = 0.10004f;
    EXPECT_EQ(logged([&] { recoverJournalOf(stepped, {7, 8}); }), Lines{});
    EXPECT_EQ(stepped[L"away"].level, 0.5f);
    EXPECT_EQ(files().at("journal2-7-8.journal"),
              "quillmere ducking journal 2\nowner 7 8\npending 0.5 0.100000001 refused\nend\n");
}

TEST_F(DuckingEngineTest, RecoveryReadsWhatItCanOfAJournalAndSetsAsideOneItCannotReadAtAll) {
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nlowered 0.8 0.2 a\nlowered 1.5 0.3 loud\nlowered 0.8 0.2 b c d e\n"
        "lowered 0.5 0.25 away\nend\n";
    fakeJournalWorld().files["journal2-5-6.journal"] = std::string(64, '\0');
    fakeJournalWorld().files["journal2-3-4.journal"] = "";
    fakeJournalWorld().refused.insert("journal2-3-4.journal");  // a FIFO, a link: never opened to read
    FakeSessionVolumes sessions({session(L"a", 20, 0.2f), session(L"loud", 20, 0.3f)});
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(sessions, fakeJournalWorld().self); }),
              (Lines{"[win-helper] Ignoring unreadable ducking journal: journal2-3-4.journal",
                     "[win-helper] Ignoring unreadable ducking journal: journal2-5-6.journal",
                     "[win-helper] Ignoring unreadable ducking journal: journal2-7-8.journal line 4",
                     "[win-helper] Ignoring unreadable ducking journal: journal2-7-8.journal line 5",
                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8"}));
    EXPECT_EQ(sessions[L"loud"].level, 0.3f) << "above 1: no volume this platform sets";
    EXPECT_EQ(files().at("journal2-7-8.journal"),
              "quillmere ducking journal 2\nowner 7 8\nlowered 0.5 0.25 away\nend\n")
        << "rewritten without the lines it could not read";
    EXPECT_EQ(files().count("journal2-5-6.journal.unreadable"), 1u);
    EXPECT_EQ(files().count("journal2-3-4.journal.unreadable"), 1u);

    // Where levels go above 1 (a sound server), the same line is read and put back.
    resetFakeSeams();
    fakeJournalWorld().levelLimit = std::numeric_limits<float>::infinity();
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nlowered 1.5 1.20000005 loud\nend\n";
    sessions[L"loud"].level = 1.2f;
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(sessions, fakeJournalWorld().self); }),
              Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 1.5"});
    EXPECT_TRUE(files().empty());
}

TEST_F(DuckingEngineTest, WhereASessionNeverComesBackItsEntryGoesOnceItsApplicationsMemoryIsSetBack) {
    // Like a sound server's sink inputs: identifiers of one instance, never reused.
    FakeSession away = session(L"sink-input:3", 20, 0.8f);
    away.key = "by-name:Player";
    FakeSession alongside = session(L"sink-input:5", 22, 0.8f);
    alongside.key = away.key;  // another stream of the same application
    FakeSessionVolumes sessions({away, alongside});
    sessions.serverName = "pulse 1";
    sessions.unseenReturn = false;
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    engine.pass(10, false, 0.5f, false, kTable);
    EXPECT_EQ(files().at("journal2-100-1.journal"),
              "quillmere ducking journal 2\nowner 100 1\nserver pulse%00201\nlowered 0.800000012 0.400000006 "
              "sink-input:3 by-name:Player\nlowered 0.800000012 0.400000006 sink-input:5 by-name:Player\nend\n");
    sessions[L"sink-input:3"].present = false;  // both streams ended while lowered
    sessions[L"sink-input:5"].present = false;
    engine.restore();
    EXPECT_EQ(sessions.remembered, (Remembered{{L"sink-input:3", "by-name:Player", 0.8f},
                                               {L"sink-input:5", "by-name:Player", 0.8f},
                                               {L"sink-input:3", "by-name:Player", 0.8f}}))
        << "each lowered, then the application's memory set back once";
    EXPECT_TRUE(engine.ledger().empty());
    EXPECT_TRUE(files().empty()) << "after an orderly run, no journal";

    // An ended run's journal: a stream still at the volume set is put back; one gone is
    // forgotten once its application's memory is set back.
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nserver pulse%00201\n"
        "lowered 0.5 0.25 sink-input:4 by-name:Here\nlowered 0.8 0.4 sink-input:3 by-name:Player\n"
        "lowered 0.8 0.4 sink-input:6 by-name:Player\npending 0.6 0.3 sink-input:2\nend\n";
    FakeSession here = session(L"sink-input:4", 21, 0.25f);
    FakeSessionVolumes server({here});
    server.serverName = "pulse 1";
    server.unseenReturn = false;
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(server, fakeJournalWorld().self); }),
              Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 0.5"});
    EXPECT_EQ(server.remembered, (Remembered{{L"sink-input:4", "", 0.5f}, {L"", "by-name:Player", 0.8f}}))
        << "the one put back, then the two gone by their application's key alone, once";
    EXPECT_TRUE(files().empty());

    // Another instance of the server (restarted: its indexes start again): no stream is touched,
    // even one at the listed volume under the listed index.
    server[L"sink-input:4"].level = 0.25f;
    server.remembered.clear();
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nserver pulse%00200\nlowered 0.5 0.25 sink-input:4 by-name:Here\nend\n";
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(server, fakeJournalWorld().self); }), Lines{});
    EXPECT_EQ(server[L"sink-input:4"].level, 0.25f);
    EXPECT_EQ(server.remembered, (Remembered{{L"", "by-name:Here", 0.5f}}));
    EXPECT_TRUE(files().empty());

    // Where the device cannot be reached, nothing is taken as gone.
    server.walkFails = true;
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nserver pulse%00201\nlowered 0.5 0.25 sink-input:9 k\nend\n";
    recoverEndedRunsJournals(server, fakeJournalWorld().self);
    EXPECT_EQ(files().count("journal2-7-8.journal"), 1u);
}

TEST_F(DuckingEngineTest, StreamsThatComeAndGoLeaveTheLedgerAndTheJournalAsTheyEnd) {
    // Like a sound server's: a long-lived stream of one application, and another application's
    // short streams one after another, each under a new index. The server starts each new one at
    // its memory of the application's volume, which may hold the lowered level.
    FakeSession radio = session(L"sink-input:0", 21, 0.8f);
    radio.key = "by-name:Radio";
    FakeSessionVolumes sessions({radio});
    sessions.serverName = "pulse 1";
    sessions.unseenReturn = false;
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    std::size_t largestJournal = 0;
    for (int stream = 1; stream <= 10000; ++stream) {
        FakeSession player = session((L"sink-input:" + std::to_wstring(stream)).c_str(), 20, stream == 1 ? 1.0f : 0.2f);
        player.key = "by-name:Player";
        sessions.add(player);
        engine.pass(10, false, 0.2f, false, kTable);
        ASSERT_EQ(sessions[player.identifier].sets, std::vector<float>{0.2f})
            << "stream " << stream << ": lowered from the application's own volume";
        ASSERT_EQ(engine.ledger().entries().size(), 2u) << "stream " << stream << ": the ended ones are gone";
        largestJournal = std::max(largestJournal, files().at("journal2-100-1.journal").size());
        sessions.erase(player.identifier);
    }
    engine.pass(10, false, 0.2f, false, kTable);
    EXPECT_EQ(files().at("journal2-100-1.journal"),
              "quillmere ducking journal 2\nowner 100 1\nserver pulse%00201\nlowered 0.800000012 0.160000011 "
              "sink-input:0 by-name:Radio\nend\n");
    EXPECT_LE(largestJournal, std::string("quillmere ducking journal 2\nowner 100 1\nserver pulse%00201\n"
                                          "lowered 0.800000012 0.160000011 sink-input:0 by-name:Radio\n"
                                          "lowered 1 0.200000003 sink-input:10000 by-name:Player\nend\n")
                                  .size());
    EXPECT_EQ(std::count(sessions.remembered.begin(), sessions.remembered.end(),
                         std::make_tuple(std::wstring(L"sink-input:10000"), std::string("by-name:Player"), 1.0f)),
              2)
        << "the last stream's application memory: set back at its lowering and when it ended";
}

TEST_F(DuckingEngineTest, ARunningProgramsJournalInAFormatThisOneCannotReadIsLeftWhereItIs) {
    fakeJournalWorld().running.insert({7, 8});
    const std::string later = "quillmere ducking journal 3\nowner 7 8\nend\n";
    fakeJournalWorld().files["journal2-7-8.journal"] = later;
    FakeSessionVolumes sessions({session(L"a", 20, 0.5f)});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              Lines{"[win-helper] Ducking session player.exe (pid 20): 0.5 -> 0.1"});
    EXPECT_EQ(files().at("journal2-7-8.journal"), later);
    EXPECT_EQ(files().count("journal2-7-8.journal.unreadable"), 0u);
}

TEST_F(DuckingEngineTest, NoJournalIsWrittenLargerThanItsReadersTakeAndTheOwnIsNeverSetAside) {
    // Applications choose their names, which the keys hold: two such entries pass the limit.
    FakeSession first = session(L"sink-input:1", 20, 0.8f);
    first.key = std::string(kMaxJournalBytes / 2, 'a');
    FakeSession second = session(L"sink-input:2", 21, 0.8f);
    second.key = std::string(kMaxJournalBytes / 2, 'b');
    FakeSession third = session(L"sink-input:3", 22, 0.8f);
    third.key = second.key;
    FakeSessionVolumes sessions({first, second, third});
    sessions.unseenReturn = false;
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, false, kTable); }),
              (Lines{"[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.4",
                     "[win-helper] Failed to write ducking journal: journal2-100-1.journal error=27"}))
        << "the ones that would not fit are not lowered, and the failure said once";
    EXPECT_TRUE(sessions[L"sink-input:2"].sets.empty());
    EXPECT_TRUE(sessions[L"sink-input:3"].sets.empty());
    ASSERT_TRUE(parseJournal(files().at("journal2-100-1.journal")));

    // The own journal spoilt on the disk (a person's editor, a full disk's torn copy): the
    // program's read of other programs' journals leaves it alone, and its next write mends it.
    fakeJournalWorld().files["journal2-100-1.journal"] = "spoilt";
    sessions.erase(L"sink-input:1");
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.5f, false, kTable); }),
              (Lines{"[win-helper] Ducking session paused.exe (pid 21): 0.8 -> 0.4"}));
    EXPECT_EQ(files().count("journal2-100-1.journal.unreadable"), 0u);
    ASSERT_TRUE(parseJournal(files().at("journal2-100-1.journal")));
}

TEST(JournalRecovery, ASessionsEntryIsTheOneOfItsIdentifierElseTheFirstOfItsApplicationsKey) {
    const std::vector<JournalEntry> entries = {{L"sink-input:3", 0.5f, 0.25f, false, std::nullopt, "app"},
                                               {L"sink-input:12", 0.8f, 0.4f, false, std::nullopt, "app"},
                                               {L"plain", 0.5f, 0.25f, false, std::nullopt, ""}};
    struct Case {
        const char* name;
        AudioSession session;
        std::ptrdiff_t entry;  // -1: none
    };
    const Case cases[] = {
        {"its identifier's, before an earlier entry of its key", {L"sink-input:12", 40, true, "app", std::nullopt}, 1},
        {"back under a new index: the first of its key", {L"sink-input:40", 40, true, "app", std::nullopt}, 0},
        {"by identifier alone where there are no keys", {L"plain", 20, true, "", std::nullopt}, 2},
        {"no key matches an entry without one", {L"other", 20, true, "", std::nullopt}, -1},
        {"neither listed", {L"other", 20, true, "another app", std::nullopt}, -1},
    };
    for (const Case& c : cases) {
        const auto entry = listedEntry(entries, c.session);
        EXPECT_EQ(entry == entries.end() ? -1 : entry - entries.begin(), c.entry) << c.name;
    }
}

TEST_F(DuckingEngineTest, AtTheStartARunningProgramsFilesAreLeftUnreadAndDeadWritersTemporaryFilesGo) {
    fakeJournalWorld().running.insert({9, 9});
    fakeJournalWorld().files = {{"journal2-9-9.journal", "being written"},  // not read: not set aside
                                {"journal2-9-9.tmp", "x"},
                                {"journal2-7-8.tmp", "x"},
                                {"journal-5-6.tmp", "x"},
                                {"journal2-100-1.tmp", "x"},
                                // By their writers: a running recovery's of an ended run's journal
                                // stays, an ended writer's of a running program's goes.
                                {"journal2-7-8.journal.9-9.tmp", "x"},
                                {"journal2-9-9.journal.7-8.tmp", "x"}};
    FakeSessionVolumes sessions({});
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(sessions, fakeJournalWorld().self); }), Lines{});
    EXPECT_EQ(files(), (std::map<std::string, std::string>{{"journal2-100-1.tmp", "x"},
                                                           {"journal2-7-8.journal.9-9.tmp", "x"},
                                                           {"journal2-9-9.journal", "being written"},
                                                           {"journal2-9-9.tmp", "x"}}));

    // After a reboot, a journal of the boot before whose owner's id and start time run again.
    fakeJournalWorld().boot = "this-boot";
    fakeJournalWorld().files = {
        {"journal2-9-9.journal",
         "quillmere ducking journal 2\nowner 9 9\nboot earlier-boot\nlowered 0.8 0.16 a\nend\n"},
        {"journal2-100-1.journal",
         "quillmere ducking journal 2\nowner 100 1\nboot earlier-boot\nlowered 0.6 0.3 b\nend\n"}};
    FakeSessionVolumes rebooted({session(L"a", 20, 0.16f), session(L"b", 21, 0.3f)});
    EXPECT_EQ(logged([&] { recoverEndedRunsJournals(rebooted, fakeJournalWorld().self); }),
              (Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 0.6",
                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8"}));
    EXPECT_TRUE(files().empty());
}

TEST_F(DuckingEngineTest, ASessionThatComesBackAfterItsRunEndedGetsThatRunsRuleBeforeItIsLowered) {
    fakeJournalWorld().files["journal2-7-8.journal"] =
        "quillmere ducking journal 2\nowner 7 8\nlowered 0.800000012 0.159999996 a\nlowered 0.5 0.1 b\nend\n";
    fakeJournalWorld().files["journal2-5-6.journal"] =
        "quillmere ducking journal 2\nowner 5 6\nlowered 0.9 0.45 target\nend\n";
    FakeSession a = session(L"a", 20, 0.16f);
    FakeSession b = session(L"b", 21, 0.3f);
    FakeSession target = session(L"target", 10, 0.45f);  // this run never lowers it
    a.present = b.present = target.present = false;
    FakeSessionVolumes sessions({a, b, target});
    DuckingEngine engine(sessions, fakeJournalWorld().self);
    recoverEndedRunsJournals(sessions, fakeJournalWorld().self);  // the start: neither is there
    engine.pass(10, false, 0.2f, false, kTable);
    const int reads = fakeJournalWorld().reads;
    engine.pass(10, false, 0.2f, false, kTable);
    EXPECT_EQ(fakeJournalWorld().reads, reads) << "nothing changed: not read again";

    sessions[L"a"].present = sessions[L"b"].present = sessions[L"target"].present = true;
    fakeJournalWorld().lockHeld = true;  // another process recovers: this pass does not wait
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }), Lines{});
    EXPECT_TRUE(sessions[L"a"].sets.empty()) << "never saved as an original at the volume that run set";

    fakeJournalWorld().lockHeld = false;
    EXPECT_EQ(logged([&] { engine.pass(10, false, 0.2f, false, kTable); }),
              (Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 0.8",
                     "[win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16",
                     "[win-helper] Ducking session paused.exe (pid 21): 0.3 -> 0.06",
                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.9"}))
        << "b: the user's volume since, and the entry forgotten; the target: put back, not lowered";
    EXPECT_EQ(sessions[L"target"].sets, std::vector<float>{0.9f});
    EXPECT_EQ(files().count("journal2-7-8.journal"), 0u);
    EXPECT_EQ(files().count("journal2-5-6.journal"), 0u);

    // A run that ends later is read once its owner has ended; a stream that came back under
    // another index is found by its application's key, in the same server instance only.
    fakeJournalWorld().running.insert({9, 9});
    fakeJournalWorld().files["journal2-9-9.journal"] =
        "quillmere ducking journal 2\nowner 9 9\nserver s%00201\nlowered 0.6 0.3 sink-input:3 app\nend\n";
    FakeSession back = session(L"sink-input:12", 40, 0.3f);
    back.key = "app";
    FakeSessionVolumes server({back});
    server.serverName = "s 1";
    DuckingEngine second(server, fakeJournalWorld().self);
    second.pass(10, false, 0.5f, true, kTable);
    EXPECT_EQ(server[L"sink-input:12"].sets, std::vector<float>{0.15f}) << "a running program's: its original is 0.3";
    second.restore();
    fakeJournalWorld().running.erase({9, 9});
    EXPECT_EQ(logged([&] { second.pass(10, false, 0.5f, true, kTable); }),
              (Lines{"[win-helper] Restored session volume left lowered by an earlier run to: 0.6",
                     "[win-helper] Ducking session refused.exe (pid 40): 0.6 -> 0.3"}));
}

}  // namespace
