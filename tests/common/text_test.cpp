#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

namespace {

TEST(Text, EscapeJsonTable) {
    struct Case {
        std::string input;
        std::string escaped;
    };
    const Case cases[] = {
        {"", ""},
        {"a/b", "a/b"},
        {"tab\there", "tab\\there"},
        {"\n\r", "\\n\\r"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\x", "C:\\\\x"},
        {"\x0c", "\\u000c"},
        {"\x08", "\\u0008"},
        {"\x1f", "\\u001f"},
        {std::string("\0", 1), "\\u0000"},
        {"\x7f", "\x7f"},
        {"\xc3\xa9", "\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeJson(c.input), c.escaped) << c.input;
    }
}

TEST(Text, EscapeControlBytesWritesEachAsHexAndLeavesEveryOtherByte) {
    struct Case {
        const char* name;
        std::string input;
        std::string escaped;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"plain", "tone_player", "tone_player"},
        {"a forged line", "x\n[win-helper] Restored session volume to: 1",
         "x\\x0a[win-helper] Restored session volume to: 1"},
        {"carriage return", "a\rb", "a\\x0db"},
        {"NUL", std::string("\0", 1), "\\x00"},
        {"tab", "\t", "\\x09"},
        {"escape sequence", "\x1b[31m", "\\x1b[31m"},
        {"last control", "\x1f", "\\x1f"},
        {"DEL", "\x7f", "\\x7f"},
        {"space and tilde", " ~", " ~"},
        {"backslash as it is", "C:\\x0a\\", "C:\\x0a\\"},
        {"bytes from 0x80", "caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeControlBytes(c.input), c.escaped) << c.name;
    }
}

TEST(Text, WideToUtf8StopsAtNulAndReplacesLoneSurrogates) {
    struct Case {
        const char* name;
        std::wstring input;
        std::string utf8;
    };
    const Case cases[] = {
        {"empty", L"", ""},
        {"leading NUL", std::wstring(L"\0abc", 4), ""},
        {"middle NUL", std::wstring(L"ab\0cd", 5), "ab"},
        {"ascii", L"player.exe", "player.exe"},
        {"two bytes", L"\u00e9", "\xc3\xa9"},
        {"three bytes", L"\u20ac", "\xe2\x82\xac"},
        {"surrogate pair", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xf0\x9f\x98\x80"},
        {"lone high surrogate", std::wstring{wchar_t(0xD83D), L'a'},
         "\xef\xbf\xbd"
         "a"},
        {"lone low surrogate", std::wstring{wchar_t(0xDE00)}, "\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wideToUtf8(c.input), c.utf8) << c.name;
    }
}

TEST(Text, Utf8ToWideRoundTripsCharactersAndReplacesBadBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"pulse-player", "pulse-player"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"a\xff"
         "b",
         "a\xef\xbf\xbd"
         "b"},                                                     // no lead byte
        {"\xc3", "\xef\xbf\xbd"},                                  // cut short
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
    };
    for (const auto& [utf8, back] : cases) {
        EXPECT_EQ(wideToUtf8(utf8ToWide(utf8)), back) << utf8;
    }
}

TEST(Text, ExcludedNamesContainOneOfThreeWordsInAnyAsciiCase) {
    for (const wchar_t* name : {L"Quillmere.exe", L"TorVanel Agent.exe", L"my-electron-app.exe", L"ELECTRON.EXE"}) {
        EXPECT_TRUE(isExcludedProcessName(name)) << wideToUtf8(name);
    }
    for (const wchar_t* name : {L"quillmer.exe", L"", L"torvane.exe", L"elect ron.exe"}) {
        EXPECT_FALSE(isExcludedProcessName(name)) << wideToUtf8(name);
    }
}

TEST(Text, NameEqualityFoldsAsciiLettersOnly) {
    EXPECT_TRUE(namesEqual(L"AudioDG.EXE", L"audiodg.exe"));
    EXPECT_FALSE(namesEqual(L"\u00c9.exe", L"\u00e9.exe"));
    EXPECT_FALSE(namesEqual(L"audiodg.exe", L"audiodg.ex"));
    EXPECT_FALSE(namesEqual(L"a[", L"A{")) << "only A-Z fold, not the neighbours of the letters";
}

TEST(Text, AWholeDecimalIsDigitsAloneUpToTheLargest) {
    constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        const char* name;
        std::string_view text;
        std::uint64_t largest;
        std::optional<std::uint64_t> value;
    };
    const Case cases[] = {
        {"digits", "4242", kAny, 4242},
        {"zero", "0", kAny, 0},
        {"leading zeros", "007", kAny, 7},
        {"empty", "", kAny, std::nullopt},
        {"a plus sign", "+1", kAny, std::nullopt},
        {"a minus sign", "-1", kAny, std::nullopt},
        {"leading space", " 1", kAny, std::nullopt},
        {"trailing space", "1 ", kAny, std::nullopt},
        {"trailing letters", "12x", kAny, std::nullopt},
        {"a NUL inside",
         std::string_view("1\0"
                          "2",
                          3),
         kAny, std::nullopt},
        {"the 64-bit maximum", "18446744073709551615", kAny, 18446744073709551615u},
        {"one past it", "18446744073709551616", kAny, std::nullopt},
        {"far past it", "99999999999999999999", kAny, std::nullopt},
        {"the 32-bit bound", "4294967295", 4294967295u, 4294967295u},
        {"one past that bound", "4294967296", 4294967295u, std::nullopt},
        {"a digit above a bound under ten", "7", 5, std::nullopt},
        {"many zeros within a bound of zero", "0000", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseWholeDecimal(c.text, c.largest), c.value) << c.name;
    }
}

}  // namespace
