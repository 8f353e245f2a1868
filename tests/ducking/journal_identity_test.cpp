// What a journal belongs to: whose it is, over the fake set of running processes, and which
// sound server's sessions it may touch.

#include "ducking/journal_identity.h"

#include <gtest/gtest.h>

#include "doubles/seams/fake_seams.h"

namespace {

TEST(JournalIdentity, AnOwnerIsThisProgramAnotherThatRunsOrARunThatEnded) {
    struct Case {
        const char* name;
        ProcessIdentity owner;
        OwnerState state;
    };
    const ProcessIdentity self{100, 1};
    const Case cases[] = {
        {"this program, never asked after", {100, 1}, OwnerState::Self},
        {"another program that runs", {7, 8}, OwnerState::Live},
        {"a program that ended", {5, 6}, OwnerState::Ended},
        {"this program's id, another creation time", {100, 2}, OwnerState::Ended},
    };
    resetFakeSeams();
    fakeJournalWorld().running = {{7, 8}};  // not even this program: its own state is known
    for (const Case& c : cases) {
        EXPECT_EQ(ownerState(c.owner, self), c.state) << c.name;
    }
}

TEST(JournalIdentity, AJournalOfAnotherBootIsAnEndedRunsWhateverRunsUnderItsOwner) {
    struct Case {
        const char* name;
        ProcessIdentity owner;
        const char* boot;
        OwnerState state;
    };
    const ProcessIdentity self{100, 1};
    const Case cases[] = {
        {"this boot, its owner runs", {7, 8}, "this-boot", OwnerState::Live},
        {"an earlier boot: an id and start time that run now are another process",
         {7, 8},
         "earlier-boot",
         OwnerState::Ended},
        {"an earlier boot, this program's id and start time", {100, 1}, "earlier-boot", OwnerState::Ended},
        {"this boot, this program", {100, 1}, "this-boot", OwnerState::Self},
        {"written before boots were kept: by its owner, as ever", {7, 8}, "", OwnerState::Live},
        {"written before boots were kept, its owner ended", {5, 6}, "", OwnerState::Ended},
    };
    resetFakeSeams();
    fakeJournalWorld().running = {{7, 8}};
    fakeJournalWorld().boot = "this-boot";
    for (const Case& c : cases) {
        Journal journal;
        journal.owner = c.owner;
        journal.boot = c.boot;
        EXPECT_EQ(ownerState(journal, self), c.state) << c.name;
    }
}

TEST(JournalIdentity, AJournalAppliesToItsOwnServerInstanceOrWhereItNamesNone) {
    struct Case {
        const char* name;
        const char* journalServer;
        const char* server;
        bool applies;
    };
    const Case cases[] = {
        {"no server named (Windows, version 1)", "", "pulse 1", true},
        {"the same instance", "pulse 1", "pulse 1", true},
        {"another instance of the server", "pulse 0", "pulse 1", false},
        {"a server's journal where there is none", "pulse 1", "", false},
    };
    for (const Case& c : cases) {
        Journal journal;
        journal.server = c.journalServer;
        EXPECT_EQ(appliesToServer(journal, c.server), c.applies) << c.name;
    }
}

}  // namespace
