#include "listing/listing_rules.h"

#include <gtest/gtest.h>

#include "listing/json_line.h"
#include "listing/text.h"

namespace {

TEST(ListingRules, ExeNameFromInstanceIdentifier) {
    struct Case {
        const char* name;
        std::wstring instanceId;
        std::optional<std::wstring> exe;
    };
    const Case cases[] = {
        {"executable path", L"{0.0.0.00000000}.{guid}|\\Device\\HarddiskVolume3\\Apps\\Player.exe%b{00000000-0000}",
         L"Player.exe"},
        {"upper-case extension when no lower", L"x\\GAME.EXE%b", L"GAME.EXE"},
        {"lower case found first", L"a\\ONE.EXE|b\\two.exe", L"two.exe"},
        {"mixed case is not looked for", L"x\\Tool.Exe%b", std::nullopt},
        {"name characters", L"x\\my-app_2.0.exe", L"my-app_2.0.exe"},
        {"blank ends the name", L"C:\\Program Files\\My App.exe", L"App.exe"},
        {"bare extension", L"x\\.exe", L".exe"},
        {"bare extension after a blank", L"x .exe|", L".exe"},
        {"extension at the start", L".exe\\a.exe", std::nullopt},
        {"nothing", L"{0.0.0}|#%b{guid}", std::nullopt},
        {"empty", L"", std::nullopt},
        {"name at the start", L"app.exe", L"app.exe"},
        {"non-ASCII letter ends the name", L"x\\caf\u00e9.exe", L".exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseExeNameFromInstanceId(c.instanceId), c.exe) << c.name;
    }
}

TEST(ListingRules, ResolvesTheTopOfAChainOfSameNamedProcesses) {
    ProcessTable table;
    table[4] = {1, L"explorer.exe"};
    table[30] = {50, L"App.exe"};  // third of the chain
    table[50] = {70, L"app.exe"};  // second
    table[70] = {4, L"APP.EXE"};   // first: its parent has another name
    table[90] = {4, L"other.exe"};
    EXPECT_EQ(resolvePidByName(L"app.exe", table), 70u) << "the chain's first, not the lowest id";
    EXPECT_EQ(resolvePidByName(L"other.exe", table), 90u);
    EXPECT_EQ(resolvePidByName(L"missing.exe", table), std::nullopt);

    ProcessTable orphan;
    orphan[12] = {99, L"lone.exe"};  // parent missing from the table
    EXPECT_EQ(resolvePidByName(L"lone.exe", orphan), 12u);

    ProcessTable cycle;  // every entry's parent has the same name: the second pass takes the first
    cycle[20] = {21, L"loop.exe"};
    cycle[21] = {20, L"loop.exe"};
    EXPECT_EQ(resolvePidByName(L"loop.exe", cycle), 20u);

    ProcessTable idle;
    idle[0] = {0, L"idle.exe"};
    EXPECT_EQ(resolvePidByName(L"idle.exe", idle), std::nullopt) << "id 0 is never a result";
}

TEST(ListingRules, HiddenSessionsAndApps) {
    constexpr std::uint32_t own = 500;
    EXPECT_TRUE(isHiddenSession(0, L"player.exe", own));
    EXPECT_TRUE(isHiddenSession(own, L"player.exe", own));
    EXPECT_TRUE(isHiddenSession(10, L"AudioDG.EXE", own));
    EXPECT_TRUE(isHiddenSession(10, L"SVCHOST.exe", own));
    EXPECT_TRUE(isHiddenSession(10, L"Slack-Electron.exe", own));
    EXPECT_TRUE(isHiddenSession(10, L"TorVanel.exe", own));
    EXPECT_FALSE(isHiddenSession(10, L"player.exe", own));
    EXPECT_FALSE(isHiddenSession(10, L"audiodg.exe.bak", own));

    for (const wchar_t* exe : {L"Explorer.EXE", L"ApplicationFrameHost.exe", L"textinputhost.exe", L"quillmere.exe"}) {
        EXPECT_TRUE(isHiddenApp(exe)) << wideToUtf8(exe);
    }
    EXPECT_FALSE(isHiddenApp(L"notepad.exe"));
    EXPECT_FALSE(isHiddenApp(L""));
}

TEST(ListingRules, DisplayNameIsTheExeNameWithoutItsLastExtension) {
    EXPECT_EQ(displayNameFromExe(L"my.tool.exe"), L"my.tool");
    EXPECT_EQ(displayNameFromExe(L"README"), L"README");
    EXPECT_EQ(displayNameFromExe(L".exe"), L"");
    EXPECT_EQ(displayNameFromExe(L""), L"");
}

TEST(JsonLine, RecordsAndListsByteForByte) {
    EXPECT_EQ(jsonListLine({}), "[]\n");
    EXPECT_EQ(jsonListLine({sessionRecord(42, L"player.exe")}), "[{\"pid\":42,\"name\":\"player.exe\"}]\n");
    EXPECT_EQ(jsonListLine({sessionRecord(1, L"a.exe"), sessionRecord(4294967295u, L"b.exe")}),
              "[{\"pid\":1,\"name\":\"a.exe\"},{\"pid\":4294967295,\"name\":\"b.exe\"}]\n");
    EXPECT_EQ(appRecord({7, L"Say \"hi\"\t\u00e9", L"my.tool.exe", L"C:\\Apps\\my.tool.exe"}),
              "{\"pid\":7,\"name\":\"Say \\\"hi\\\"\\t\xc3\xa9\",\"exe\":\"my.tool.exe\","
              "\"path\":\"C:\\\\Apps\\\\my.tool.exe\"}");
    EXPECT_EQ(appRecord({8, L"x", L"", L""}), "{\"pid\":8,\"name\":\"x\",\"exe\":\"\",\"path\":\"\"}");
}

}  // namespace
