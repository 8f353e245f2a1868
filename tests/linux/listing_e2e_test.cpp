// --list-sessions on a real sound server: the processes with sink inputs, one line of JSON.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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

}  // namespace
