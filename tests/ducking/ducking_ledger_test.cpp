#include "ducking/ducking_ledger.h"

#include <gtest/gtest.h>

namespace {

using Action = DuckingLedger::Action;

TEST(DuckingLedger, LoweredSessionsAreLeftOrReappliedFromTheirVolumeFromBefore) {
    DuckingLedger ledger;
    EXPECT_EQ(ledger.plan(L"player", false).action, Action::Lower) << "a new session is lowered";
    EXPECT_EQ(ledger.plan(L"player", true).action, Action::Lower) << "even in a pass that re-applies";
    EXPECT_TRUE(ledger.nothingLowered());

    ledger.recordLowered(L"player", 0.8f, 0.16f);
    EXPECT_FALSE(ledger.nothingLowered());
    EXPECT_EQ(ledger.plan(L"player", false).action, Action::Leave) << "no new ratio: the user's own change stands";
    const DuckingLedger::Plan reapply = ledger.plan(L"player", true);
    EXPECT_EQ(reapply.action, Action::Reapply);
    EXPECT_EQ(reapply.before, 0.8f) << "a new ratio applies to the volume from before";
    EXPECT_EQ(ledger.plan(L"Player", false).action, Action::Lower) << "identifiers compare exactly";

    ledger.recordReapplied(L"player", 0.4f);
    EXPECT_EQ(ledger.entries().at(L"player").before, 0.8f);
    EXPECT_EQ(ledger.entries().at(L"player").set, 0.4f);
    EXPECT_EQ(ledger.entries().at(L"player").previousSet, 0.16f) << "until the pass has set it";
    ledger.settle();
    EXPECT_EQ(ledger.entries().at(L"player").previousSet, std::nullopt);

    // Entered before the volume is set; a failed set takes it back.
    ledger.revert(L"player", ledger.recordReapplied(L"player", 0.1f));
    EXPECT_EQ(ledger.entries().at(L"player").set, 0.4f);
    ledger.revert(L"new", ledger.recordLowered(L"new", 0.5f, 0.1f));
    EXPECT_EQ(ledger.entries().count(L"new"), 0u);
}

TEST(DuckingLedger, ARestoreForgetsWhatItPutBackAndKeepsTheRestPending) {
    DuckingLedger ledger;
    ledger.recordLowered(L"restored", 0.8f, 0.16f);
    ledger.recordLowered(L"away", 0.5f, 0.1f);
    ledger.recordLowered(L"refused", 0.7f, 0.14f);
    ledger.recordLowered(L"shared", 0.9f, 0.18f);
    ledger.recordLowered(L"changed", 0.6f, 0.12f);
    const std::uint64_t before = ledger.changeCount();
    DuckingLedger::RestoreOutcome outcome;
    outcome.restored = {L"restored", L"shared"};
    outcome.failed = {L"refused", L"shared"};  // one session of "shared" was put back, another not
    outcome.dropped = {L"changed"};
    ledger.finishRestore(outcome);

    EXPECT_EQ(ledger.entries().count(L"restored"), 0u);
    EXPECT_EQ(ledger.entries().count(L"changed"), 0u) << "the user's change wins";
    for (const wchar_t* kept : {L"away", L"refused", L"shared"}) {
        ASSERT_EQ(ledger.entries().count(kept), 1u);
        EXPECT_TRUE(ledger.entries().at(kept).pending);
    }
    EXPECT_TRUE(ledger.nothingLowered()) << "pending entries are no saved volumes: a ratio of 1 idles";
    EXPECT_GT(ledger.changeCount(), before);
    EXPECT_EQ(ledger.plan(L"away", false).action, Action::Lower) << "a pending session is lowered again";
}

TEST(DuckingLedger, OriginalVolumeOfASessionAboutToBeLowered) {
    DuckingLedger ledger;
    ledger.recordLowered(L"away", 0.5f, 0.1f);
    ledger.finishRestore({});  // not found: pending
    ledger.recordLowered(L"stream:1", 0.8f, 0.16f, "player");
    // Another application's sessions that came and went, one after the other.
    ledger.recordLowered(L"stream:9", 0.6f, 0.3f, "radio");
    ledger.endAllBut({L"away", L"stream:1"});
    ledger.recordLowered(L"stream:8", 0.7f, 0.14f, "radio");
    const auto gone = ledger.endAllBut({L"away", L"stream:1"});
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].first, L"stream:8");
    EXPECT_EQ(ledger.entries().size(), 2u) << "gone for good: their entries leave";
    const Journal other{2, {77, 1}, "", {{L"theirs", 0.9f, 0.18f, false, std::nullopt, ""}}, ""};
    struct Case {
        const char* name;
        const wchar_t* identifier;
        float current;
        float original;
        const char* key = "";
    };
    const Case cases[] = {
        {"pending, still at the volume we set: its original", L"away", 0.1f, 0.5f},
        {"pending, changed by the user: their volume", L"away", 0.3f, 0.3f},
        {"lowered by another live program: its original", L"theirs", 0.18f, 0.9f},
        {"listed by another at another volume: the current one", L"theirs", 0.2f, 0.2f},
        {"unknown: the current volume", L"new", 0.7f, 0.7f},
        {"its application's other session lowered to this level: that one's original", L"stream:2", 0.16f, 0.8f,
         "player"},
        {"its application's other session at another level: the current one", L"stream:2", 0.5f, 0.5f, "player"},
        {"another application's session at this level: the current one", L"stream:2", 0.16f, 0.16f, "browser"},
        {"no key: the current volume", L"stream:2", 0.16f, 0.16f},
        {"its application's last ended session lowered to this level: that one's original", L"stream:2", 0.14f, 0.7f,
         "radio"},
        {"at the level of an ended session that was not its application's last: the current one", L"stream:2", 0.3f,
         0.3f, "radio"},
        {"lowered by another program too: that program's original first", L"theirs", 0.18f, 0.9f, "player"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ledger.originalVolume(c.identifier, c.current, {other}, {}, c.key), c.original) << c.name;
    }
    ledger.recordLowered(L"away", 0.5f, 0.25f);
    EXPECT_FALSE(ledger.entries().at(L"away").pending) << "lowered again";
}

TEST(DuckingLedger, WhatItKeepsOfEndedSessionsStaysBoundedHoweverManyApplicationsCameAndWent) {
    DuckingLedger ledger;
    for (int application = 0; application < 1000; ++application) {
        const std::wstring identifier = L"stream:" + std::to_wstring(application);
        ledger.recordLowered(identifier, 0.8f, 0.16f, "app" + std::to_string(application));
        ASSERT_TRUE(ledger.firstVolumeFailure(L"failing:" + std::to_wstring(application)));
        ledger.endAllBut({});
    }
    EXPECT_TRUE(ledger.empty());
    EXPECT_EQ(ledger.originalVolume(L"new", 0.16f, {}, {}, "app999"), 0.8f) << "the application that ended last";
    EXPECT_EQ(ledger.originalVolume(L"new", 0.16f, {}, {}, "app0"), 0.16f) << "long gone: forgotten";
    EXPECT_TRUE(ledger.firstVolumeFailure(L"failing:0")) << "a failure of a session gone is forgotten with it";
}

TEST(DuckingLedger, EachFailureIsReportedOncePerIdentifier) {
    DuckingLedger ledger;
    EXPECT_TRUE(ledger.firstVolumeFailure(L"a"));
    EXPECT_FALSE(ledger.firstVolumeFailure(L"a"));
    EXPECT_TRUE(ledger.firstVolumeFailure(L"b"));
    EXPECT_TRUE(ledger.firstReadFailure(L"a")) << "each kind on its own";
    EXPECT_FALSE(ledger.firstReadFailure(L"a"));
}

}  // namespace
