#include "ducking/ducking_ledger.h"

#include <gtest/gtest.h>

namespace {

using Action = DuckingLedger::Action;

TEST(DuckingLedger, FirstLoweringSavesAndLaterPassesUseTheSavedVolume) {
    DuckingLedger ledger;
    EXPECT_EQ(ledger.plan(L"player", false).action, Action::Lower) << "a new session is lowered";
    EXPECT_EQ(ledger.plan(L"player", true).action, Action::Lower) << "even in a pass that re-applies";

    ledger.saveLowered(L"player", 0.8f);
    ledger.saveLowered(L"player", 0.16f);  // a second session with the same identifier
    EXPECT_EQ(ledger.savedVolumes().at(L"player"), 0.8f) << "the first volume from before is kept";

    const DuckingLedger::Plan steady = ledger.plan(L"player", false);
    EXPECT_EQ(steady.action, Action::Leave) << "no new ratio: the user's own change stands";
    const DuckingLedger::Plan reapply = ledger.plan(L"player", true);
    EXPECT_EQ(reapply.action, Action::Reapply);
    EXPECT_EQ(reapply.savedVolume, 0.8f) << "a new ratio applies to the volume from before";
    EXPECT_EQ(ledger.plan(L"Player", false).action, Action::Lower) << "identifiers compare exactly";

    ledger.clearSaved();
    EXPECT_TRUE(ledger.empty());
    EXPECT_EQ(ledger.plan(L"player", false).action, Action::Lower) << "after a restore it starts afresh";
}

TEST(DuckingLedger, AMissingVolumeInterfaceIsReportedOncePerIdentifier) {
    DuckingLedger ledger;
    EXPECT_TRUE(ledger.firstVolumeFailure(L"a"));
    EXPECT_FALSE(ledger.firstVolumeFailure(L"a"));
    EXPECT_TRUE(ledger.firstVolumeFailure(L"b"));
    ledger.clearSaved();
    EXPECT_FALSE(ledger.firstVolumeFailure(L"a")) << "reported for the life of the process";
}

}  // namespace
