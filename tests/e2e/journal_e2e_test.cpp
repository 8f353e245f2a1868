// Volumes come back however the program ends: real processes under Wine, killed the way a host
// or a job kills them, the double's volumes kept in a state file so that the guardian and later
// runs see what earlier processes set. These tests run in a Wine prefix of their own, one at a
// time: they leave journals behind on purpose, in the per-user folder every process shares.

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"
#include "support/process_tree.h"

namespace {

std::string journalFolder() {
    wchar_t* base = nullptr;
    SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base);
    std::string folder;
    for (const wchar_t* c = base; c != nullptr && *c != 0; ++c) {
        folder.push_back(static_cast<char>(*c));
    }
    CoTaskMemFree(base);
    return folder + "\\Quillmere\\ducking";
}

std::vector<std::string> journalFiles(const char* pattern = "journal2-*.journal") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((journalFolder() + "\\" + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return names;
}

bool waitFor(const std::function<bool()>& done, DWORD timeoutMs = 15000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (done()) {
            return true;
        }
        Sleep(50);
    }
    return done();
}

// Programs and guardians of this prefix still running.
std::size_t runningPrograms() {
    std::size_t count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        count += lstrcmpiW(entry.szExeFile, L"Quillmere.exe") == 0 ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// The copies of the program in this prefix other than `program`: its guardian, nobody's child.
std::vector<DWORD> programsOtherThan(DWORD program) {
    std::vector<DWORD> others;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"Quillmere.exe") == 0 && entry.th32ProcessID != program) {
            others.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return others;
}

void kill(DWORD pid) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

class JournalEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // No guardian of an earlier test may act on this one's sessions.
        ASSERT_TRUE(waitFor([] { return runningPrograms() == 0; }));
        for (const char* pattern : {"journal*", "*.unreadable"}) {
            for (const auto& name : journalFiles(pattern)) {
                DeleteFileA((journalFolder() + "\\" + name).c_str());
            }
        }
        char directory[MAX_PATH];
        GetTempPathA(MAX_PATH, directory);
        static int count = 0;
        statePath_ = std::string(directory) + "quillmere-volumes-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(GetTickCount64()) + "-" + std::to_string(++count) + ".txt";
    }
    void TearDown() override { DeleteFileA(statePath_.c_str()); }

    // The script with the shared volume state and these sessions.
    std::string script(const std::string& sessions) const { return "volume_state " + statePath_ + "\n" + sessions; }

    // A session's volume as the last process that set it left it; -1 when none did.
    float volume(const std::string& id) const {
        std::FILE* file = std::fopen(statePath_.c_str(), "rb");
        float found = -1.0f;
        if (file != nullptr) {
            char name[256];
            float value = 0.0f;
            while (std::fscanf(file, "%255s %f", name, &value) == 2) {
                if (id == name) {
                    found = value;
                }
            }
            std::fclose(file);
        }
        return found;
    }
    // The user turns a session to this volume.
    void userSets(const std::string& id, float value) const {
        std::FILE* file = std::fopen(statePath_.c_str(), "wb");
        std::fprintf(file, "%s %.9g\n", id.c_str(), static_cast<double>(value));
        std::fclose(file);
    }

    std::string statePath_;
};

const std::string kSessionA = "session speakers pid=3999996 id=a volume=0.8\n";
// 0.2 × 0.8 in single precision, as the engine computes it: one step above 0.16f.
const float kDuckedVolumeA = 0.2f * 0.8f;
const std::string kDuckedA = "[win-helper] Ducking session pid 3999996: 0.8 -> 0.16";

TEST_F(JournalEndToEnd, AKilledProgramsGuardianPutsTheVolumeBack) {
    AudioEngineDouble engine(script(kSessionA));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA));
    EXPECT_EQ(journalFiles().size(), 1u) << "written before the volume was lowered";
    EXPECT_EQ(volume("a"), kDuckedVolumeA);
    TerminateProcess(host.handle(), 1);
    EXPECT_EQ(host.waitForExit(), 1u) << "the host sees the end of its pipes: the guardian holds none";
    EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; }));
    EXPECT_TRUE(waitFor([&] { return journalFiles().empty(); }));
}

TEST_F(JournalEndToEnd, AnEndOfTheHostsWholeProcessTreeLeavesTheGuardianToPutTheVolumeBack) {
    AudioEngineDouble engine(script(kSessionA));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA));
    EXPECT_GE(terminateEverythingBelow(GetCurrentProcessId()), 1);
    EXPECT_EQ(WaitForSingleObject(host.handle(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; }));
}

TEST_F(JournalEndToEnd, AKillOnCloseJobThatAllowsBreakawayKillsTheProgramNotItsGuardian) {
    AudioEngineDouble engine(script(kSessionA));
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    HostProcess::Options options({"1234"});
    options.job = job;
    HostProcess host(options);
    ASSERT_TRUE(host.waitForLog(kDuckedA));
    CloseHandle(job);  // what a host's end does to the job Node puts its children in
    host.waitForExit();
    EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; }));
}

TEST_F(JournalEndToEnd, WhenTheGuardianDiesTooTheNextStartPutsTheVolumeBack) {
    AudioEngineDouble engine(script(kSessionA));
    {
        HostProcess host({{"1234"}});
        ASSERT_TRUE(host.waitForLog(kDuckedA));
        ASSERT_TRUE(waitFor([&] { return journalFiles().size() == 1; }));
        for (const DWORD guardian : programsOtherThan(host.pid())) {
            kill(guardian);
        }
        TerminateProcess(host.handle(), 1);
        host.waitForExit();
    }
    EXPECT_EQ(volume("a"), kDuckedVolumeA);
    HostProcess next({{"1234"}});
    ASSERT_TRUE(next.waitForLog(kDuckedA));
    next.write("exit\n");
    EXPECT_EQ(next.waitForExit(), 0u);
    const Lines lines = next.logLines();
    const auto recovered = std::find(lines.begin(), lines.end(),
                                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8");
    ASSERT_NE(recovered, lines.end());
    EXPECT_LT(recovered, std::find(lines.begin(), lines.end(), kDuckedA)) << "recovered before its own ducking";
    EXPECT_EQ(volume("a"), 0.8f);
    EXPECT_TRUE(journalFiles().empty());
}

TEST_F(JournalEndToEnd, AVolumeTheUserChangedMeanwhileIsLeftAlone) {
    AudioEngineDouble engine(script(kSessionA));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA));
    ASSERT_TRUE(waitFor([&] { return journalFiles().size() == 1; }));
    userSets("a", 0.5f);
    TerminateProcess(host.handle(), 1);
    host.waitForExit();
    EXPECT_TRUE(waitFor([&] { return journalFiles().empty(); })) << "the guardian forgets the entry";
    EXPECT_EQ(volume("a"), 0.5f);
}

TEST_F(JournalEndToEnd, AnUnreadableJournalIsSetAsideWithOneLine) {
    const std::string path = journalFolder() + "\\journal-7-8.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs("quillmere ducking journal 1\nowner 7 8\nlowered 0.8 0.1", file);  // cut short
    std::fclose(file);
    AudioEngineDouble engine(script(kSessionA));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA)) << "the capture goes on";
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[win-helper] Ignoring unreadable ducking journal: " + path), 1);
    EXPECT_EQ(journalFiles("*.unreadable"), std::vector<std::string>{"journal-7-8.txt.unreadable"});
}

TEST_F(JournalEndToEnd, AnEarlierProgramsJournalOfAnEndedRunIsRecovered) {
    const std::string path = journalFolder() + "\\journal-7-8.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs("quillmere ducking journal 1\nowner 7 8\nlowered 0.800000012 0.200000003 a\nend\n", file);
    std::fclose(file);
    AudioEngineDouble engine(script("session speakers pid=3999996 id=a volume=0.2\n"));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA)) << "lowered from the volume the earlier run found";
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "[win-helper] Restored session volume left lowered by an earlier run to: 0.8"),
              1);
    EXPECT_EQ(volume("a"), 0.8f);
    EXPECT_TRUE(journalFiles("journal*").empty());
}

TEST_F(JournalEndToEnd, ASessionThatComesBackAfterItsRunEndedIsPutBackBeforeItIsLowered) {
    const std::string path = journalFolder() + "\\journal2-7-8.journal";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs("quillmere ducking journal 2\nowner 7 8\nlowered 0.800000012 0.200000003 a\nend\n", file);
    std::fclose(file);
    // The player was closed while lowered, and reopens at the volume the ended run set.
    AudioEngineDouble engine(
        script("session speakers pid=3999996 id=a volume=0.2 absent_from_ms=0 absent_until_ms=1500\n"));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA)) << "lowered from the user's volume, not from 0.2";
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    const auto recovered = std::find(lines.begin(), lines.end(),
                                     "[win-helper] Restored session volume left lowered by an earlier run to: 0.8");
    ASSERT_NE(recovered, lines.end());
    EXPECT_LT(recovered, std::find(lines.begin(), lines.end(), kDuckedA));
    EXPECT_EQ(volume("a"), 0.8f);
    EXPECT_TRUE(journalFiles("journal*").empty());
}

TEST_F(JournalEndToEnd, TwoProgramsOnDisjointSessionsEachRestoreTheirOwn) {
    ProcessTree first(0);
    ProcessTree second(0);
    AudioEngineDouble engine(script("session speakers pid=" + first.rootText() + " id=a volume=0.8\n" +
                                    "session speakers pid=" + second.rootText() + " id=b volume=0.6\n"));
    HostProcess a({{first.rootText(), "0.5", "include"}});
    HostProcess b({{second.rootText(), "0.5", "include"}});
    ASSERT_TRUE(a.waitForLog("0.8 -> 0.4"));
    ASSERT_TRUE(b.waitForLog("0.6 -> 0.3"));
    TerminateProcess(a.handle(), 1);
    a.waitForExit();
    EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; })) << "the first one's guardian";
    EXPECT_EQ(volume("b"), 0.3f) << "the second program's session stays ducked while it runs";
    b.write("exit\n");
    EXPECT_EQ(b.waitForExit(), 0u);
    EXPECT_EQ(volume("b"), 0.6f);
}

TEST_F(JournalEndToEnd, TwoProgramsOnOneSessionLeaveTheUsersVolumeWhicheverEndsFirst) {
    for (const bool firstEndsFirst : {true, false}) {
        SetUp();
        AudioEngineDouble engine(script(kSessionA));
        HostProcess first({{"1234"}});
        ASSERT_TRUE(first.waitForLog(kDuckedA));
        HostProcess second({{"1235"}});
        ASSERT_TRUE(second.waitForLog(kDuckedA)) << "the second saves the first one's original, not 0.16";
        HostProcess& early = firstEndsFirst ? first : second;
        HostProcess& late = firstEndsFirst ? second : first;
        TerminateProcess(early.handle(), 1);
        early.waitForExit();
        EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; })) << firstEndsFirst;
        late.write("exit\n");
        EXPECT_EQ(late.waitForExit(), 0u);
        EXPECT_EQ(volume("a"), 0.8f) << firstEndsFirst;
        EXPECT_TRUE(waitFor([&] { return journalFiles().empty(); })) << firstEndsFirst;
    }
}

TEST_F(JournalEndToEnd, AFailedReadIsNotLoweredAndAFailedRestoreIsLeftForTheGuardian) {
    AudioEngineDouble engine(
        script("session speakers pid=3999996 id=r volume=0.8 read_fail=0x80070005\n"
               "session speakers pid=3999996 id=a volume=0.8 late_set_fail=0x80004005\n"));
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kDuckedA));
    Sleep(1200);  // a second pass: the read failure is reported once
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "[win-helper] Failed to read session volume for pid 3999996 hr=-2147024891"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[win-helper] Failed to restore session volume hr=-2147467259"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[win-helper] Restored session volume to: 0.8"), 0);
    EXPECT_TRUE(engine.recorded("set_volume r").empty()) << "never lowered";
    EXPECT_TRUE(waitFor([&] { return volume("a") == 0.8f; })) << "the guardian's own try succeeds";
    EXPECT_TRUE(waitFor([&] { return journalFiles().empty(); }));
}

TEST_F(JournalEndToEnd, WhenTheHostEndsWhileNothingPlaysTheCaptureStopsInOrder) {
    AudioEngineDouble engine(script(kSessionA));
    HostProcess launcher(
        {{"1500", testBinDir() + "\\Quillmere.exe", "1234"}, SIZE_MAX, testBinDir() + "\\launcher.exe"});
    ASSERT_TRUE(launcher.waitForLog(kDuckedA));
    ASSERT_TRUE(launcher.waitForLog("[win-helper] Host process ended; stopping capture.\r\n"));
    ASSERT_TRUE(launcher.waitForLog("[win-helper] Restored session volume to: 0.8"));
    const std::string log = launcher.log();
    const auto at = log.find("launched ");
    ASSERT_NE(at, std::string::npos);
    const HANDLE program = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                       static_cast<DWORD>(std::stoul(log.substr(at + 9))));
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(WaitForSingleObject(program, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(program, &code);
    CloseHandle(program);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(volume("a"), 0.8f);
}

}  // namespace
