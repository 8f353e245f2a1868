// --list-sessions and --list-apps as a host sees them: exact stdout bytes, exact log lines,
// exit status 0, and the whole line read back by a JSON parser.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"
#include "support/process_tree.h"

namespace {

struct Listing {
    DWORD exitCode;
    DWORD pid;
    Lines lines;
    std::string output;
};

Listing list(const std::string& option) {
    HostProcess host({{option, "extra", "words"}});
    const DWORD code = host.waitForExit();
    return {code, host.pid(), host.logLines(), host.output()};
}

TEST(SessionListingEndToEnd, SetUpFailuresListNothing) {
    struct Case {
        const char* name;
        std::string script;
        Lines lines;
    };
    const Case cases[] = {
        {"no enumerator", "enumerator fail 0x80004005\n", {kBuild}},
        {"no endpoints",
         "enum_endpoints fail 0x80070005\n",
         {kBuild, "[win-helper] EnumAudioEndpoints failed: 0x80070005"}},
        {"no active device", "device spk disabled\n", {kBuild, "[win-helper] Active playback devices found: 0"}},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script);
        const Listing listing = list("--list-sessions");
        EXPECT_EQ(listing.exitCode, 0u) << c.name;
        EXPECT_EQ(listing.output, "[]\r\n") << c.name;
        EXPECT_EQ(listing.lines, c.lines) << c.name;
    }
}

TEST(SessionListingEndToEnd, WalksEveryDeviceAndSessionAndListsEachProcessOnce) {
    ProcessTree player(0);
    ProcessTree electron(0, "MyElectronApp.exe");
    // A chain of three chain_app.exe: the first started the second, the second the third. (Wine
    // hands out ascending ids here; the unit tests cover chains whose ids do not ascend.)
    ProcessTree chain(2, "chain_app.exe");
    const DWORD u = player.root();
    const std::string playerInstance = "{0.0.0.00000000}|\\Device\\HarddiskVolume3\\Apps\\tree_helper.exe%b{1}";
    AudioEngineDouble engine(
        "device spk default\ndevice hdmi item_fail=0x80070005\ndevice usb activate_fail=0x88890004\n"
        "device bt enum_fail=0x80004005\ndevice off disabled\ndevice spk2\n"
        "session spk pid=self id=own\n"
        "session spk pid=" +
        pidText(u) + " id=u instance=" + playerInstance +
        "\n"
        "session spk pid=" +
        pidText(u) +
        " id=u2\n"
        "session spk pid=0 id=sys instance={0.0.0.00000000}|%b{2}\n"
        "session spk pid=3999996 id=ghost instance=x\\Apps\\chain_app.exe%b\n"
        "session spk pid=" +
        pidText(electron.root()) +
        " id=e\n"
        "session spk id=broken get_fail=0x80004005\n"
        "session spk pid=7 id=old no_control2\n"
        "session spk pid=3999992 id=engine instance=x\\AUDIODG.EXE\n"
        "session spk2 pid=" +
        pidText(u) +
        " id=u3 pid_result=0x889000D\n"
        "session spk2 pid=3999984 id=gone instance=x\\Apps\\NotRunning.exe\n");
    const Listing listing = list("--list-sessions");
    EXPECT_EQ(listing.exitCode, 0u);

    const std::string chainRoot = pidText(chain.pids()[0]);
    std::map<DWORD, std::string> expected = {
        {u, "tree_helper.exe"}, {chain.pids()[0], "chain_app.exe"}, {3999984, "NotRunning.exe"}};
    std::string line = "[";
    for (const auto& [pid, name] : expected) {
        line += (line.size() > 1 ? "," : "") + std::string("{\"pid\":") + pidText(pid) + ",\"name\":\"" + name + "\"}";
    }
    EXPECT_EQ(listing.output, line + "]\r\n");
    EXPECT_EQ(listing.lines,
              (Lines{kBuild,
                     "[win-helper] Active playback devices found: 5",
                     "[win-helper] Device 0 sessionCount: 9",
                     "[win-helper] Session on dev 0: PID=" + pidText(listing.pid) + ", Name='', InstanceID=''",
                     "[win-helper] Session on dev 0: PID=" + pidText(u) + ", Name='tree_helper.exe', InstanceID='" +
                         playerInstance + "'",
                     "[win-helper] Session on dev 0: PID=" + pidText(u) + ", Name='tree_helper.exe', InstanceID=''",
                     "[win-helper] Session on dev 0: PID=0, Name='', InstanceID='{0.0.0.00000000}|%b{2}'",
                     "[win-helper] Session on dev 0: PID=3999996, Name='', InstanceID='x\\Apps\\chain_app.exe%b'",
                     "[win-helper]   Parsed fallback Name='chain_app.exe' from InstanceID",
                     "[win-helper]   Resolved PID 3999996 -> " + chainRoot + " for 'chain_app.exe'",
                     "[win-helper] Session on dev 0: PID=" + pidText(electron.root()) +
                         ", Name='MyElectronApp.exe', InstanceID=''",
                     "[win-helper] Device 0 GetSession(6) failed: 0x80004005",
                     "[win-helper] Device 0 Session 7 QueryInterface IAudioSessionControl2 failed: 0x80004002",
                     "[win-helper] Session on dev 0: PID=3999992, Name='', InstanceID='x\\AUDIODG.EXE'",
                     "[win-helper]   Parsed fallback Name='AUDIODG.EXE' from InstanceID",
                     "[win-helper] Item(1) failed: 0x80070005",
                     "[win-helper] Device 2 Activate IAudioSessionManager2 failed: 0x88890004",
                     "[win-helper] Device 3 GetSessionEnumerator failed: 0x80004005",
                     "[win-helper] Device 4 sessionCount: 2",
                     "[win-helper] Session on dev 4: PID=" + pidText(u) + ", Name='tree_helper.exe', InstanceID=''",
                     "[win-helper] Session on dev 4: PID=3999984, Name='', InstanceID='x\\Apps\\NotRunning.exe'",
                     "[win-helper]   Parsed fallback Name='NotRunning.exe' from InstanceID"}));
    const auto parsed = nlohmann::json::parse(listing.output);
    ASSERT_TRUE(parsed.is_array());
    EXPECT_EQ(parsed.size(), 3u);
}

// Waits until the process shows a visible window with this title.
bool waitForWindow(DWORD pid, const std::wstring& title) {
    struct Search {
        DWORD pid;
        std::wstring title;
        bool found = false;
    } search{pid, title};
    for (int attempt = 0; attempt < 500 && !search.found; ++attempt) {
        EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                auto* s = reinterpret_cast<Search*>(context);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                wchar_t text[64] = {};
                GetWindowTextW(window, text, 64);
                if (owner == s->pid && IsWindowVisible(window) && s->title == text) {
                    s->found = true;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            Sleep(20);
        }
    }
    return search.found;
}

// A stand-in application from the test folder, with the windows its arguments ask for.
class WindowProgram {
public:
    WindowProgram(const std::string& exe, const std::string& windows) {
        std::string commandLine = "\"" + testBinDir() + "\\" + exe + "\" " + windows;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_)) {
            ADD_FAILURE() << "cannot start " << exe;
        }
    }
    ~WindowProgram() {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    DWORD pid() const { return process_.dwProcessId; }

private:
    PROCESS_INFORMATION process_ = {};
};

std::string jsonEscapedPath(const std::string& exe) {
    std::string escaped;
    for (char c : testBinDir() + "\\" + exe) {
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return escaped;
}

TEST(AppListingEndToEnd, ListsProcessesWithQualifyingWindowsOnce) {
    WindowProgram described("described_app.exe", "visible:One visible:Two hidden:Three");
    WindowProgram tool("my.tool.exe", "visible:Tool");
    WindowProgram nothing("my.tool.exe", "hidden:A tool:B untitled owned:C");
    ASSERT_TRUE(waitForWindow(described.pid(), L"Two")) << "needs an X display (Xvfb) for Wine's windows";
    ASSERT_TRUE(waitForWindow(tool.pid(), L"Tool"));
    ASSERT_TRUE(waitForWindow(nothing.pid(), L"C"));

    const Listing listing = list("--list-apps");
    EXPECT_EQ(listing.exitCode, 0u);
    EXPECT_EQ(listing.lines, Lines{kBuild}) << "the listing itself logs nothing";
    ASSERT_GE(listing.output.size(), 4u);
    EXPECT_EQ(listing.output.substr(listing.output.size() - 3), "]\r\n");

    const std::string describedRecord = "{\"pid\":" + pidText(described.pid()) +
                                        ",\"name\":\"Say \\\"hi\\\" C:\\\\Apps Caf\xc3\xa9 \xce\xa9\","
                                        "\"exe\":\"described_app.exe\",\"path\":\"" +
                                        jsonEscapedPath("described_app.exe") + "\"}";
    const std::string toolRecord = "{\"pid\":" + pidText(tool.pid()) +
                                   ",\"name\":\"my.tool\",\"exe\":\"my.tool.exe\",\"path\":\"" +
                                   jsonEscapedPath("my.tool.exe") + "\"}";
    EXPECT_NE(listing.output.find(describedRecord), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find(toolRecord), std::string::npos) << listing.output;

    const auto parsed = nlohmann::json::parse(listing.output);
    ASSERT_TRUE(parsed.is_array());
    std::vector<std::uint32_t> pids;
    for (const auto& record : parsed) {
        ASSERT_EQ(record.size(), 4u) << record.dump();
        ASSERT_TRUE(record.at("pid").is_number_unsigned()) << record.dump();
        for (const char* field : {"name", "exe", "path"}) {
            ASSERT_TRUE(record.at(field).is_string()) << record.dump();
        }
        EXPECT_FALSE(record.at("name").get<std::string>().empty());
        pids.push_back(record.at("pid").get<std::uint32_t>());
    }
    EXPECT_TRUE(std::is_sorted(pids.begin(), pids.end()));
    EXPECT_EQ(std::adjacent_find(pids.begin(), pids.end()), pids.end()) << "one record per process";
    EXPECT_EQ(std::count(pids.begin(), pids.end(), nothing.pid()), 0) << "no qualifying window";
    EXPECT_EQ(std::count(pids.begin(), pids.end(), listing.pid), 0);
    for (const auto& record : parsed) {
        if (record.at("pid") == described.pid()) {
            EXPECT_EQ(record.at("name"), "Say \"hi\" C:\\Apps Caf\xc3\xa9 \xce\xa9");
        }
    }
}

}  // namespace
