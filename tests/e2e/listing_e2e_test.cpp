// --list-sessions and --list-apps as a host sees them: exact stdout bytes, exact log lines,
// exit status 0, and the whole line read back by a JSON parser.

#include <windows.h>
#include <winternl.h>

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

// A stand-in application, from the test folder unless a full path is given, with the windows
// its arguments ask for.
class WindowProgram {
public:
    WindowProgram(const std::string& exe, const std::string& windows) {
        const std::string path = exe.find('\\') == std::string::npos ? testBinDir() + "\\" + exe : exe;
        const std::wstring application(path.begin(), path.end());
        std::wstring commandLine = L"\"" + application + L"\" " + std::wstring(windows.begin(), windows.end());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_)) {
            ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
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

std::string jsonEscaped(const std::string& path) {
    std::string escaped;
    for (char c : path) {
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
                                        jsonEscaped(testBinDir() + "\\described_app.exe") + "\"}";
    const std::string toolRecord = "{\"pid\":" + pidText(tool.pid()) +
                                   ",\"name\":\"my.tool\",\"exe\":\"my.tool.exe\",\"path\":\"" +
                                   jsonEscaped(testBinDir() + "\\my.tool.exe") + "\"}";
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

// A copy of my.tool.exe whose full image path is 300 characters, well past what a MAX_PATH
// buffer holds, started with its windows.
class LongPathTool {
public:
    explicit LongPathTool(const std::string& windows) {
        std::wstring folder = widen(testBinDir()) + L"\\long-image-path";
        const std::wstring exe = L"\\my.tool.exe";
        while (folder.size() + exe.size() < kLength) {
            folder += L"\\" + std::wstring(std::min<std::size_t>(100, kLength - exe.size() - folder.size() - 1), L'x');
        }
        for (std::size_t end = folder.find(L'\\', 3); end != std::wstring::npos; end = folder.find(L'\\', end + 1)) {
            CreateDirectoryW((L"\\\\?\\" + folder.substr(0, end)).c_str(), nullptr);
        }
        CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
        path_ = folder + exe;
        CopyFileW((L"\\\\?\\" + widen(testBinDir()) + exe).c_str(), (L"\\\\?\\" + path_).c_str(), FALSE);
        start(widen(windows));
    }
    ~LongPathTool() {
        TerminateProcess(process_, 0);
        WaitForSingleObject(process_, 5000);
        CloseHandle(thread_);
        CloseHandle(process_);
        CloseHandle(nul_);
    }
    DWORD pid() const { return GetProcessId(process_); }
    std::string path() const { return std::string(path_.begin(), path_.end()); }

private:
    static constexpr std::size_t kLength = 300;

    static std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

    // CreateProcessW finds programs through MAX_PATH buffers (Wine's starts nothing whose path
    // is longer than 259 characters); the native call takes any length.
    void start(const std::wstring& windows) {
        using CreateParameters = NTSTATUS(NTAPI*)(PRTL_USER_PROCESS_PARAMETERS*, PUNICODE_STRING, PUNICODE_STRING,
                                                  PUNICODE_STRING, PUNICODE_STRING, PVOID, PUNICODE_STRING,
                                                  PUNICODE_STRING, PUNICODE_STRING, PUNICODE_STRING, ULONG);
        using CreateUserProcess = NTSTATUS(NTAPI*)(PHANDLE, PHANDLE, ACCESS_MASK, ACCESS_MASK, PVOID, PVOID, ULONG,
                                                   ULONG, PVOID, PVOID, PVOID);
        struct Attribute {
            ULONG_PTR attribute;
            SIZE_T size;
            ULONG_PTR value;
            PSIZE_T returnLength;
        };
        struct AttributeList {
            SIZE_T totalLength;
            Attribute attributes[1];
        };
        constexpr ULONG_PTR kImageNameAttribute = 0x20005;  // PS_ATTRIBUTE_IMAGE_NAME
        constexpr ULONG kNormalizedParameters = 1;          // RTL_USER_PROC_PARAMS_NORMALIZED
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const auto createParameters = reinterpret_cast<CreateParameters>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlCreateProcessParametersEx")));
        const auto createUserProcess =
            reinterpret_cast<CreateUserProcess>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateUserProcess")));

        std::wstring ntPath = L"\\??\\" + path_;
        std::wstring commandLine = L"\"" + path_ + L"\" " + windows;
        UNICODE_STRING image = {static_cast<USHORT>(path_.size() * 2), static_cast<USHORT>(path_.size() * 2),
                                path_.data()};
        UNICODE_STRING command = {static_cast<USHORT>(commandLine.size() * 2),
                                  static_cast<USHORT>(commandLine.size() * 2), commandLine.data()};
        PRTL_USER_PROCESS_PARAMETERS parameters = nullptr;
        ASSERT_EQ(createParameters(&parameters, &image, nullptr, nullptr, &command, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, kNormalizedParameters),
                  0);
        // Standard handles of its own (Reserved2[2..4] are StandardInput, StandardOutput and
        // StandardError): without them Wine would hand it this process's descriptors, and the
        // test runner's pipe would stay open after the test.
        for (int i = 2; i <= 4; ++i) {
            parameters->Reserved2[i] = nul_;
        }
        unsigned char createInfo[0x58] = {};  // PS_CREATE_INFO, its size first
        *reinterpret_cast<SIZE_T*>(createInfo) = sizeof createInfo;
        AttributeList attributes = {
            sizeof attributes,
            {{kImageNameAttribute, ntPath.size() * 2, reinterpret_cast<ULONG_PTR>(ntPath.data()), nullptr}}};
        ASSERT_EQ(createUserProcess(&process_, &thread_, PROCESS_ALL_ACCESS, THREAD_ALL_ACCESS, nullptr, nullptr, 0, 0,
                                    parameters, createInfo, &attributes),
                  0);
    }

    std::wstring path_;
    HANDLE nul_ = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
};

TEST(AppListingEndToEnd, AnImagePathLongerThanMaxPathIsListedWhole) {
    LongPathTool tool("visible:Long");
    ASSERT_TRUE(waitForWindow(tool.pid(), L"Long"));
    const Listing listing = list("--list-apps");
    const std::string record = "{\"pid\":" + pidText(tool.pid()) +
                               ",\"name\":\"my.tool\",\"exe\":\"my.tool.exe\",\"path\":\"" + jsonEscaped(tool.path()) +
                               "\"}";
    EXPECT_NE(listing.output.find(record), std::string::npos) << listing.output;
}

}  // namespace
