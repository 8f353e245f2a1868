// --list-sessions on a real sound server: the processes with sink inputs, one line of JSON.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "linux_process.h"

namespace {

TEST(LinuxListing, ListsEachProcessWithAStreamOnceInPidOrder) {
    // A player whose name holds "electron" is left out, as on Windows.
    const std::filesystem::path hidden = std::filesystem::temp_directory_path() / "my-electron-player";
    std::filesystem::copy_file(tonePlayerProgram(), hidden, std::filesystem::copy_options::overwrite_existing);
    LinuxProcess first({tonePlayerProgram(), "440", "0.1", "30"});
    LinuxProcess second({tonePlayerProgram(), "880", "0.1", "30"});
    LinuxProcess electron({hidden.string(), "660", "0.1", "30"});
    ASSERT_TRUE(first.waitForOutput(8) && second.waitForOutput(8) && electron.waitForOutput(8));

    LinuxProcess listing({quillmereProgram(), "--list-sessions", "extra"});
    const int status = listing.waitForEnd();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(listing.output(), "[{\"pid\":" + std::to_string(first.pid()) + ",\"name\":\"tone_player\"},{\"pid\":" +
                                    std::to_string(second.pid()) + ",\"name\":\"tone_player\"}]\n");
    EXPECT_EQ(listing.logLines(), std::vector<std::string>{"[win-helper] build v3-mingw-uuid-fix"});
}

// A copy of a test program under another name, in a folder of its own.
std::string copyAs(const std::string& program, const std::string& name) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quillmere-apps";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(program, folder / name, std::filesystem::copy_options::overwrite_existing);
    return (folder / name).string();
}

TEST(LinuxListing, ListsProcessesWithAVisibleTitledWindowWithOrWithoutAWindowManager) {
    LinuxProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForOutput(2)) << "Xvfb did not start";
    const std::string output = xvfb.output();
    const std::string display = "DISPLAY=:" + output.substr(0, output.find('\n'));

    // A desktop entry (in a subfolder) names one program; the other goes by its file name.
    const std::filesystem::path data = std::filesystem::temp_directory_path() / "quillmere-apps-data";
    std::filesystem::remove_all(data);
    std::filesystem::create_directories(data / "applications" / "vendor");
    std::ofstream(data / "applications" / "vendor" / "viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Picture \"Viewer\"\nExec=/somewhere/viewer %F\n";
    const std::vector<std::string> environment = {display, "XDG_DATA_DIRS=" + data.string(),
                                                  "XDG_DATA_HOME=/nonexistent"};

    const std::string viewerPath = copyAs(x11WindowProgram(), "viewer");
    const std::string editorPath = copyAs(x11WindowProgram(), "editor");
    LinuxProcess viewer({viewerPath, "Photos"}, environment);
    LinuxProcess editor({editorPath, "Notes"}, environment);
    LinuxProcess dialog({copyAs(x11WindowProgram(), "dialog_only"), "Hidden owner", "owned", "Owned"}, environment);
    ASSERT_TRUE(viewer.waitForOutput(7) && editor.waitForOutput(7) && dialog.waitForOutput(7));
    const auto record = [](const LinuxProcess& process, const std::string& name, const std::string& path) {
        return "{\"pid\":" + std::to_string(process.pid()) + ",\"name\":\"" + name + "\",\"exe\":\"" +
               path.substr(path.rfind('/') + 1) + "\",\"path\":\"" + path + "\"}";
    };
    const std::string expected =
        "[" + record(viewer, "Picture \\\"Viewer\\\"", viewerPath) + "," + record(editor, "editor", editorPath) + "]\n";
    const auto list = [&] {
        LinuxProcess listing({quillmereProgram(), "--list-apps"}, environment);
        EXPECT_EQ(listing.waitForEnd(), 0);
        return listing.output();
    };
    EXPECT_EQ(list(), expected) << "without a window manager: the mapped top-level windows";

    LinuxProcess windowManager({"/usr/bin/openbox", "--sm-disable"}, {display});
    // Managed: the window manager has taken the three mapped windows into its client list.
    const auto managedWindows = [&] {
        const std::string clients = run(display + " xprop -root _NET_CLIENT_LIST");
        std::size_t count = 0;
        for (std::size_t at = clients.find("0x"); at != std::string::npos; at = clients.find("0x", at + 1)) {
            ++count;
        }
        return count;
    };
    for (int attempt = 0; attempt < 100 && managedWindows() < 3; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(managedWindows(), 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string managed = list();
    EXPECT_EQ(managed, expected) << "with a window manager: its client list";

    LinuxProcess wayland({quillmereProgram(), "--list-apps"}, {"DISPLAY=", "WAYLAND_DISPLAY=wayland-0"});
    EXPECT_EQ(wayland.waitForEnd(), 0);
    EXPECT_EQ(wayland.output(), "[]\n");
    EXPECT_EQ(wayland.logLines().back(), "[win-helper] No X11 display (a Wayland-only session): no windows to list");
}

// What an applications folder may hold besides desktop entries: only a regular file (after its
// links) of at most 64 KiB is read, and the walk stops after 4,096 folder entries, so the listing
// ends within a bounded time whatever the folders hold.
TEST(LinuxListing, ReadsOnlyRegularDesktopEntriesOfAtMost64KiBAndStopsItsWalkAtItsBound) {
    LinuxProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForOutput(2)) << "Xvfb did not start";
    const std::string output = xvfb.output();
    const std::string display = "DISPLAY=:" + output.substr(0, output.find('\n'));
    const std::string viewerPath = copyAs(x11WindowProgram(), "viewer");
    LinuxProcess viewer({viewerPath, "Photos"}, {display});
    ASSERT_TRUE(viewer.waitForOutput(7));

    const auto entry = [](const std::string& name) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/somewhere/viewer %F\n";
    };
    // An entry made exactly `bytes` long by a comment.
    const auto entryOf = [&](const std::string& name, std::size_t bytes) {
        const std::string text = entry(name);
        return text + "# " + std::string(bytes - text.size() - 3, 'x') + "\n";
    };
    // The first data folder ($XDG_DATA_HOME) holds what the case puts there, as a.desktop, ahead
    // of the second's ($XDG_DATA_DIRS) regular entry for the viewer.
    const std::filesystem::path data = std::filesystem::temp_directory_path() / "quillmere-entries";
    const std::filesystem::path first = data / "home" / "applications";
    struct Case {
        const char* name;
        std::function<void()> put;
        std::string listed;
    };
    const Case cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(mkfifo((first / "a.desktop").c_str(), 0600), 0); }, "Viewer"},
        {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", first / "a.desktop"); }, "Viewer"},
        {"a link to a regular entry, as Flatpak's",
         [&] {
             std::ofstream(data / "linked.desktop") << entry("Linked");
             std::filesystem::create_symlink(data / "linked.desktop", first / "a.desktop");
         },
         "Linked"},
        {"an entry of 65,537 bytes", [&] { std::ofstream(first / "a.desktop") << entryOf("Too big", 65537); },
         "Viewer"},
        {"an entry of 65,536 bytes", [&] { std::ofstream(first / "a.desktop") << entryOf("Just fits", 65536); },
         "Just fits"},
        {"4,096 other files first: the walk ends before the viewer's entry",
         [&] {
             for (int n = 0; n < 4096; ++n) {
                 std::ofstream(first / ("filler" + std::to_string(n) + ".txt"));
             }
         },
         "viewer"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(data);
        std::filesystem::create_directories(first);
        std::filesystem::create_directories(data / "dirs" / "applications");
        std::ofstream(data / "dirs" / "applications" / "b.desktop") << entry("Viewer");
        c.put();
        LinuxProcess listing({quillmereProgram(), "--list-apps"}, {display, "XDG_DATA_HOME=" + (data / "home").string(),
                                                                   "XDG_DATA_DIRS=" + (data / "dirs").string()});
        ASSERT_TRUE(listing.endsWithin(std::chrono::seconds(5))) << c.name;
        EXPECT_EQ(listing.waitForEnd(), 0) << c.name;
        EXPECT_EQ(listing.output(), "[{\"pid\":" + std::to_string(viewer.pid()) + ",\"name\":\"" + c.listed +
                                        "\",\"exe\":\"viewer\",\"path\":\"" + viewerPath + "\"}]\n")
            << c.name;
    }
}

// A listing holds nothing to put back: SIGINT, SIGTERM and SIGHUP end it where it is, here while
// it waits for a sound server that takes its connection and never answers.
TEST(LinuxListing, EndsOnSigintSigtermAndSighup) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "quillmere-silent-server";
    std::filesystem::remove(path);
    const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 4), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        LinuxProcess listing({quillmereProgram(), "--list-sessions"}, {"PULSE_SERVER=unix:" + path.string()});
        pollfd connecting{server, POLLIN, 0};
        ASSERT_EQ(poll(&connecting, 1, 10000), 1) << "the listing did not connect";
        const int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(client, 0);
        listing.signal(signal);
        EXPECT_TRUE(listing.endsWithin(std::chrono::seconds(2))) << sigabbrev_np(signal);
        const int status = listing.waitForEnd();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << sigabbrev_np(signal) << " " << status;
        close(client);
    }
    close(server);
}

}  // namespace
