#include "listing/listing_rules.h"

#include <gtest/gtest.h>

#include "listing/json_line.h"
#include "common/text.h"

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

TEST(ListingRules, AppNameIsTheFileDescriptionElseTheExeName) {
    EXPECT_EQ(appDisplayName(L"Player", L"player.exe"), L"Player");
    EXPECT_EQ(appDisplayName(L"", L"my.tool.exe"), L"my.tool");
    EXPECT_EQ(appDisplayName(L"", L".exe"), L"") << "not listed";
    EXPECT_EQ(appDisplayName(L"", L""), L"");
}

TEST(ListingRules, SessionNamingChain) {
    constexpr std::uint32_t own = 500;
    ProcessTable table;
    table[4] = {1, L"explorer.exe"};
    table[42] = {4, L"player.exe"};
    table[43] = {4, L""};
    table[70] = {4, L"game.exe"};
    table[88] = {4, L"svchost.exe"};
    table[own] = {4, L"host.exe"};
    const std::wstring gameInstance = L"{0.0.0.00000000}|\\Device\\Apps\\game.exe%b{1}";
    struct Case {
        const char* name;
        std::uint32_t pid;
        bool pidKnown;
        std::wstring instanceId;
        std::wstring tableName;
        std::optional<std::wstring> parsed;
        std::optional<std::uint32_t> resolved;
        std::optional<std::uint32_t> listedPid;
        std::wstring listedName;
    };
    const Case cases[] = {
        {"named by the table", 42, true, gameInstance, L"player.exe", std::nullopt, std::nullopt, 42, L"player.exe"},
        {"no name in the table: the instance id's", 43, true, gameInstance, L"", L"game.exe", std::nullopt, 43,
         L"game.exe"},
        {"process gone: resolved by name", 99, true, gameInstance, L"", L"game.exe", 70, 70, L"game.exe"},
        {"pid call failed: the table is not asked", 42, false, gameInstance, L"", L"game.exe", std::nullopt, 42,
         L"game.exe"},
        {"no process: resolved by name", 0, true, gameInstance, L"", L"game.exe", 70, 70, L"game.exe"},
        {"no name anywhere", 99, true, L"{0.0.0}|nothing", L"", std::nullopt, std::nullopt, std::nullopt, L""},
        {"gone and unresolvable", 99, true, L"x\\other.exe", L"", L"other.exe", std::nullopt, 99, L"other.exe"},
        {"the program's own session", own, true, L"", L"", std::nullopt, std::nullopt, std::nullopt, L""},
        {"a service host is not listed", 88, true, L"", L"svchost.exe", std::nullopt, std::nullopt, std::nullopt, L""},
    };
    for (const auto& c : cases) {
        const SessionNaming naming = nameSession(c.pid, c.pidKnown, c.instanceId, table, own);
        EXPECT_EQ(naming.tableName, c.tableName) << c.name;
        EXPECT_EQ(naming.parsedName, c.parsed) << c.name;
        EXPECT_EQ(naming.resolvedPid, c.resolved) << c.name;
        ASSERT_EQ(naming.record.has_value(), c.listedPid.has_value()) << c.name;
        if (naming.record) {
            EXPECT_EQ(naming.record->pid, *c.listedPid) << c.name;
            EXPECT_EQ(naming.record->name, c.listedName) << c.name;
        }
    }
    const SessionNaming electron = nameSession(0, true, L"a\\Slack-Electron.exe", table, own);
    EXPECT_FALSE(electron.record.has_value()) << "an excluded name is not listed";
}

TEST(JsonLine, RecordsAndListsByteForByte) {
    EXPECT_EQ(jsonListLine({}), "[]\n");
    EXPECT_EQ(jsonListLine({sessionRecord(42, L"player.exe")}), "[{\"pid\":42,\"name\":\"player.exe\"}]\n");
    EXPECT_EQ(jsonListLine({sessionRecord(1, L"a.exe"), sessionRecord(4294967295u, L"b.exe")}),
              "[{\"pid\":1,\"name\":\"a.exe\"},{\"pid\":4294967295,\"name\":\"b.exe\"}]\n");
    EXPECT_EQ(sessionRecord(3, L"odd\"name\\"), "{\"pid\":3,\"name\":\"odd\\\"name\\\\\"}") << "a Linux binary name";
    EXPECT_EQ(appRecord({7, L"Say \"hi\"\t\u00e9", L"my.tool.exe", L"C:\\Apps\\my.tool.exe"}),
              "{\"pid\":7,\"name\":\"Say \\\"hi\\\"\\t\xc3\xa9\",\"exe\":\"my.tool.exe\","
              "\"path\":\"C:\\\\Apps\\\\my.tool.exe\"}");
    EXPECT_EQ(appRecord({8, L"x", L"", L""}), "{\"pid\":8,\"name\":\"x\",\"exe\":\"\",\"path\":\"\"}");
}

}  // namespace
