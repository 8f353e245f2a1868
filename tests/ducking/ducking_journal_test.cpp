#include "ducking/ducking_journal.h"
#include "ducking/journal_names.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

std::uint32_t bits(float value) {
    std::uint32_t pattern;
    std::memcpy(&pattern, &value, sizeof pattern);
    return pattern;
}

TEST(DuckingJournal, WrittenAsLinesAPersonCanReadInItsVersion) {
    Journal journal{2,
                    {4242, 133791234567890123ull},
                    "pulse server 1a2b",
                    {{L"{0.0.0}|player.exe%b", 0.8f, 0.16f, false, std::nullopt, ""},
                     {L"two words", 1.5f, 0.3f, true, std::nullopt, "sink-input-by-application-name:Player"},
                     {L"new-ratio", 0.5f, 0.25f, false, 0.1f, ""}},
                    "5f2b9c1e-8d3a-4e6f-9a0b-1c2d3e4f5a6b"};
    EXPECT_EQ(formatJournal(journal),
              "quillmere ducking journal 2\n"
              "owner 4242 133791234567890123\n"
              "server pulse%0020server%00201a2b\n"
              "boot 5f2b9c1e-8d3a-4e6f-9a0b-1c2d3e4f5a6b\n"
              "lowered 0.800000012 0.159999996 {0.0.0}|player.exe%0025b\n"
              "pending 1.5 0.300000012 two%0020words sink-input-by-application-name:Player\n"
              "lowered 0.5 0.25,0.100000001 new-ratio\n"
              "end\n");
    journal.version = 1;
    journal.entries.resize(1);
    EXPECT_EQ(formatJournal(journal),
              "quillmere ducking journal 1\nowner 4242 133791234567890123\n"
              "lowered 0.800000012 0.159999996 {0.0.0}|player.exe%0025b\nend\n")
        << "version 1 has no server, no keys and no boot";
}

TEST(DuckingJournal, ReadsBackBitForBit) {
    const std::wstring awkward = std::wstring(L"caf\u00e9 %\t") + static_cast<wchar_t>(0xD800) + L"\u03a9";
    const Journal journal{2,
                          {4294967295u, 18446744073709551615ull},
                          "srv\xff",
                          {{awkward, 0.1f, std::nextafter(0.2f, 1.0f), false, std::nullopt, "k\xe9y %"},
                           {L"a", 1.0f, 0.0f, true, 0.7f, ""},
                           {L"b", std::numeric_limits<float>::denorm_min(), 0.99999994f, false, std::nullopt, ""},
                           {L"loud", 1.53f, 3.40282347e38f, false, 1.2f, "x"}},
                          "boot \x01"};
    const std::optional<ReadJournal> read = parseJournal(formatJournal(journal));
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->unreadableLines.empty());
    EXPECT_EQ(read->journal.owner, journal.owner);
    EXPECT_EQ(read->journal.server, journal.server);
    EXPECT_EQ(read->journal.boot, journal.boot);
    ASSERT_EQ(read->journal.entries.size(), journal.entries.size());
    for (std::size_t i = 0; i < journal.entries.size(); ++i) {
        const JournalEntry& got = read->journal.entries[i];
        EXPECT_EQ(got.identifier, journal.entries[i].identifier) << i;
        EXPECT_EQ(bits(got.before), bits(journal.entries[i].before)) << i;
        EXPECT_EQ(bits(got.set), bits(journal.entries[i].set)) << i;
        EXPECT_EQ(got.pending, journal.entries[i].pending) << i;
        EXPECT_EQ(got.previousSet, journal.entries[i].previousSet) << i;
        EXPECT_EQ(got.key, journal.entries[i].key) << i;
    }
}

TEST(DuckingJournal, AFileThatIsNoCompleteJournalIsUnreadableAsAWhole) {
    const std::string head = "quillmere ducking journal 2\nowner 1 2\n";
    const std::string good = head + "lowered 0.8 0.16 a\nend\n";
    ASSERT_TRUE(parseJournal(good).has_value());
    ASSERT_TRUE(parseJournal(head + "end\n").has_value()) << "nothing lowered is a journal too";
    ASSERT_TRUE(parseJournal("quillmere ducking journal 1\nowner 1 2\nlowered 0.8 0.16 a\nend\n").has_value());
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"zero-filled (a power loss before the data reached the disk)", std::string(96, '\0')},
        {"cut before the end", head + "lowered 0.8 0.16 a\n"},
        {"cut inside a line", good.substr(0, good.size() - 9)},
        {"no last line end", good.substr(0, good.size() - 1)},
        {"another version", "quillmere ducking journal 3\nowner 1 2\nend\n"},
        {"CR LF line ends", "quillmere ducking journal 2\r\nowner 1 2\r\nend\r\n"},
        {"an owner id past 32 bits", "quillmere ducking journal 2\nowner 4294967296 2\nend\n"},
        {"a boot in version 1", "quillmere ducking journal 1\nowner 1 2 b00t\nend\n"},
        {"a word after the owner's two", "quillmere ducking journal 2\nowner 1 2 b00t\nend\n"},
        {"a boot that cannot be read", head + "boot a%00G1\nend\n"},
        {"a server that cannot be read", head + "server a%00G1\nend\n"},
        {"lines after the end", good + "lowered 0.8 0.16 b\n"},
        {"oversized", head + std::string(kMaxJournalBytes, 'x') + "\nend\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parseJournal(c.text).has_value()) << c.name;
    }
}

TEST(DuckingJournal, ALineThatCannotBeReadIsLeftOutAndTheRestRead) {
    struct Case {
        const char* name;
        std::string line;
        float limit;
    };
    const float any = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"a volume above the platform's limit", "lowered 1.5 0.16 x", 1.0f},
        {"volume below zero", "lowered 0.8 -0.1 x", any},
        {"not a number", "lowered nan 0.16 x", any},
        {"infinite", "lowered inf 0.16 x", any},
        {"past a float's range", "lowered 1e39 0.16 x", any},
        {"trailing junk in a volume", "lowered 0.8x 0.16 x", any},
        {"an identifier twice", "pending 0.5 0.1 a", any},
        {"a broken escape", "lowered 0.8 0.16 x%00G1", any},
        {"a cut escape", "lowered 0.8 0.16 x%00", any},
        {"a key unit past one byte", "lowered 0.8 0.16 x k%0100", any},
        {"two blanks", "lowered 0.8  0.16 x", any},
        {"a missing field", "lowered 0.8 0.16", any},
        {"a field too many", "lowered 0.8 0.16 x k z", any},
        {"an unknown kind", "ducked 0.8 0.16 x", any},
        {"a second volume set missing", "lowered 0.8 0.16, x", any},
        {"three volumes set", "lowered 0.8 0.16,0.1,0.2 x", any},
    };
    for (const auto& c : cases) {
        const std::optional<ReadJournal> read = parseJournal(
            "quillmere ducking journal 2\nowner 1 2\nlowered 0.8 0.16 a\n" + c.line + "\npending 0.75 0.25 b\nend\n",
            c.limit);
        ASSERT_TRUE(read.has_value()) << c.name;
        EXPECT_EQ(read->unreadableLines, std::vector<std::size_t>{4}) << c.name;
        ASSERT_EQ(read->journal.entries.size(), 2u) << c.name;
        EXPECT_EQ(read->journal.entries[1].identifier, L"b") << c.name;
    }
    // Version 1 never held more than 1, nor keys.
    const std::optional<ReadJournal> v1 = parseJournal(
        "quillmere ducking journal 1\nowner 1 2\nlowered 1.5 0.16 a\nlowered 0.8 0.16 b k\nlowered 1 0.5 c\nend\n");
    ASSERT_TRUE(v1.has_value());
    EXPECT_EQ(v1->unreadableLines, (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(v1->journal.version, 1);
}

TEST(DuckingJournal, OnlyASessionStillAtTheVolumeWeSetIsPutBack) {
    struct Case {
        const char* name;
        std::optional<float> current;
        float set;
        RecoveryAction action;
    };
    const Case cases[] = {
        {"at the volume we set", 0.16f, 0.16f, RecoveryAction::Restore},
        {"changed by the user", 0.5f, 0.16f, RecoveryAction::Drop},
        {"one step off is a change", std::nextafter(0.16f, 1.0f), 0.16f, RecoveryAction::Drop},
        {"raised to full by the user", 1.0f, 0.16f, RecoveryAction::Drop},
        {"not found or unreadable", std::nullopt, 0.16f, RecoveryAction::Keep},
        {"lowered to silence and still silent", 0.0f, 0.0f, RecoveryAction::Restore},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recoveryAction(c.current, c.set, std::nullopt), c.action) << c.name;
    }
    // A new ratio under way: the session is at the new volume or still at the old one.
    EXPECT_EQ(recoveryAction(0.4f, 0.4f, 0.16f), RecoveryAction::Restore);
    EXPECT_EQ(recoveryAction(0.16f, 0.4f, 0.16f), RecoveryAction::Restore);
    EXPECT_EQ(recoveryAction(0.5f, 0.4f, 0.16f), RecoveryAction::Drop);
}

}  // namespace

namespace {

TEST(JournalNames, ThisProgramsJournalAnEarlierOnesAndTheirTemporaryFiles) {
    EXPECT_EQ(journalFileName({4242, 133791234567890123}), "journal2-4242-133791234567890123.journal");
    const struct {
        const char* name;
        JournalFileKind kind;
    } cases[] = {
        {"journal2-1-2.journal", JournalFileKind::Journal},
        {"journal-1-2.txt", JournalFileKind::Journal},
        {"journal2-1-2.tmp", JournalFileKind::Temporary},
        {"journal2-1-2.journal.3-4.tmp", JournalFileKind::Temporary},
        {"journal-1-2.tmp", JournalFileKind::Temporary},
        {"journal2-1-2.txt", JournalFileKind::Other},
        {"journal-1-2.journal", JournalFileKind::Other},
        {"journal2-1-2.journal.unreadable", JournalFileKind::Other},
        {"Journal-1-2.txt", JournalFileKind::Other},
        {"recovery.lock", JournalFileKind::Other},
        {"journal2-", JournalFileKind::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(journalFileKind(c.name), c.kind) << c.name;
    }
}

TEST(JournalNames, ATemporaryFileIsNamedByItsWriter) {
    const ProcessIdentity writer{9, 133791234567890123};
    const std::string name = temporaryJournalName(journalFileName({7, 8}), writer);
    EXPECT_NE(name, temporaryJournalName(journalFileName({7, 8}), {10, 1})) << "no two writers share one";
    EXPECT_EQ(journalFileKind(name), JournalFileKind::Temporary);
    EXPECT_EQ(ownerNamedBy(name), (ProcessIdentity{7, 8})) << "the journal's owner";
    EXPECT_EQ(writerNamedBy(name), writer);
    const struct {
        const char* name;
        std::optional<ProcessIdentity> writer;
    } cases[] = {
        {"journal2-7-8.tmp", ProcessIdentity{7, 8}},  // an earlier program's: its owner wrote it
        {"journal-5-6.tmp", ProcessIdentity{5, 6}},
        {"journal2-7-8.journal.9-x.tmp", std::nullopt},
        {"journal2-7-8.journal.4294967296-1.tmp", std::nullopt},
        {"journal2-7-8.journal.9-9.txt", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writerNamedBy(c.name), c.writer) << c.name;
    }
}

TEST(JournalNames, AFileNameGivesBackItsOwner) {
    for (const ProcessIdentity owner : {ProcessIdentity{4242, 133791234567890123}, ProcessIdentity{0, 0},
                                        ProcessIdentity{4294967295u, 18446744073709551615ull}}) {
        EXPECT_EQ(ownerNamedBy(journalFileName(owner)), owner) << journalFileName(owner);
    }
    const struct {
        const char* name;
        std::optional<ProcessIdentity> owner;
    } cases[] = {
        {"journal-7-8.txt", ProcessIdentity{7, 8}},
        {"journal2-7-8.tmp", ProcessIdentity{7, 8}},
        {"journal2-4294967296-8.journal", std::nullopt},
        {"journal2-7-18446744073709551616.journal", std::nullopt},
        {"journal2-+7-8.journal", std::nullopt},
        {"journal2-7-8x.journal", std::nullopt},
        {"journal2-7-.journal", std::nullopt},
        {"journal2-7.journal", std::nullopt},
        {"journal2-7-8", std::nullopt},
        {"recovery.lock", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ownerNamedBy(c.name), c.owner) << c.name;
    }
}

}  // namespace
