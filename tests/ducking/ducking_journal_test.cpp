#include "ducking/ducking_journal.h"

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

TEST(DuckingJournal, WrittenAsLinesAPersonCanRead) {
    const Journal journal{{4242, 133791234567890123ull},
                          {{L"{0.0.0}|player.exe%b", 0.8f, 0.16f, false, std::nullopt},
                           {L"two words", 0.5f, 0.1f, true, std::nullopt},
                           {L"new-ratio", 0.5f, 0.25f, false, 0.1f}}};
    EXPECT_EQ(formatJournal(journal),
              "quillmere ducking journal 1\n"
              "owner 4242 133791234567890123\n"
              "lowered 0.800000012 0.159999996 {0.0.0}|player.exe%0025b\n"
              "pending 0.5 0.100000001 two%0020words\n"
              "lowered 0.5 0.25,0.100000001 new-ratio\n"
              "end\n");
}

TEST(DuckingJournal, ReadsBackBitForBit) {
    const std::wstring awkward = std::wstring(L"caf\u00e9 %\t") + static_cast<wchar_t>(0xD800) + L"\u03a9";
    const Journal journal{{4294967295u, 18446744073709551615ull},
                          {{awkward, 0.1f, std::nextafter(0.2f, 1.0f), false, std::nullopt},
                           {L"a", 1.0f, 0.0f, true, 0.7f},
                           {L"b", std::numeric_limits<float>::denorm_min(), 0.99999994f, false, std::nullopt}}};
    const std::optional<Journal> read = parseJournal(formatJournal(journal));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->owner, journal.owner);
    ASSERT_EQ(read->entries.size(), journal.entries.size());
    for (std::size_t i = 0; i < journal.entries.size(); ++i) {
        EXPECT_EQ(read->entries[i].identifier, journal.entries[i].identifier) << i;
        EXPECT_EQ(bits(read->entries[i].before), bits(journal.entries[i].before)) << i;
        EXPECT_EQ(bits(read->entries[i].set), bits(journal.entries[i].set)) << i;
        EXPECT_EQ(read->entries[i].pending, journal.entries[i].pending) << i;
        EXPECT_EQ(read->entries[i].previousSet, journal.entries[i].previousSet) << i;
    }
}

TEST(DuckingJournal, AnythingButACompleteJournalIsUnreadable) {
    const std::string head = "quillmere ducking journal 1\nowner 1 2\n";
    const std::string good = head + "lowered 0.8 0.16 a\nend\n";
    ASSERT_TRUE(parseJournal(good).has_value());
    ASSERT_TRUE(parseJournal(head + "end\n").has_value()) << "nothing lowered is a journal too";
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"cut before the end", head + "lowered 0.8 0.16 a\n"},
        {"cut inside a line", good.substr(0, good.size() - 9)},
        {"no last line end", good.substr(0, good.size() - 1)},
        {"another version", "quillmere ducking journal 2\nowner 1 2\nend\n"},
        {"volume above one", head + "lowered 1.5 0.16 a\nend\n"},
        {"volume below zero", head + "lowered 0.8 -0.1 a\nend\n"},
        {"not a number", head + "lowered nan 0.16 a\nend\n"},
        {"trailing junk in a volume", head + "lowered 0.8x 0.16 a\nend\n"},
        {"an identifier twice", head + "lowered 0.8 0.16 a\npending 0.5 0.1 a\nend\n"},
        {"a broken escape", head + "lowered 0.8 0.16 a%00G1\nend\n"},
        {"a cut escape", head + "lowered 0.8 0.16 a%00\nend\n"},
        {"two blanks", head + "lowered 0.8  0.16 a\nend\n"},
        {"a missing field", head + "lowered 0.8 0.16\nend\n"},
        {"an unknown kind", head + "ducked 0.8 0.16 a\nend\n"},
        {"CR LF line ends", "quillmere ducking journal 1\r\nowner 1 2\r\nend\r\n"},
        {"an owner id past 32 bits", "quillmere ducking journal 1\nowner 4294967296 2\nend\n"},
        {"a second volume set missing", head + "lowered 0.8 0.16, a\nend\n"},
        {"three volumes set", head + "lowered 0.8 0.16,0.1,0.2 a\nend\n"},
        {"lines after the end", good + "lowered 0.8 0.16 b\n"},
        {"oversized", head + std::string(kMaxJournalBytes, 'x') + "\nend\n"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parseJournal(c.text).has_value()) << c.name;
    }
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
