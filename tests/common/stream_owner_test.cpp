#include "common/stream_owner.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(StreamOwner, TheStreamsOwnIdThenItsClientsThenThePipeWireSocketPeer) {
    struct Case {
        const char* name;
        OwnerProperties stream;
        std::optional<OwnerProperties> client;
        std::uint32_t pid;
        const char* binary;
    };
    const Case cases[] = {
        {"a libpulse stream names itself",
         {"4242", "paplay", ""},
         OwnerProperties{"77", "pipewire-pulse", "78"},
         4242,
         "paplay"},
        {"a native stream: its client's id", {"", "", ""}, OwnerProperties{"5151", "pw-cat", "5151"}, 5151, "pw-cat"},
        {"the client names only its socket peer", {"", "", ""}, OwnerProperties{"", "", "6161"}, 6161, ""},
        {"no client known", {"", "", ""}, std::nullopt, 0, ""},
        {"nobody names a process", {"", "game", ""}, OwnerProperties{"", "", ""}, 0, "game"},
        {"the stream's unreadable id falls through", {"12x", "", ""}, OwnerProperties{"300", "mpv", ""}, 300, "mpv"},
        {"id 0 names no process", {"0", "", ""}, OwnerProperties{"0", "", "9"}, 9, ""},
        {"the largest id", {"4294967295", "", ""}, std::nullopt, 4294967295u, ""},
        {"one past it", {"4294967296", "", ""}, std::nullopt, 0, ""},
        {"a sign is no digit", {"+12", "", ""}, OwnerProperties{"-3", "", " 4"}, 0, ""},
        {"the stream's binary wins over the client's",
         {"", "firefox", ""},
         OwnerProperties{"10", "pw-cat", ""},
         10,
         "firefox"},
    };
    for (const Case& c : cases) {
        const StreamOwner owner = streamOwner(c.stream, c.client ? &*c.client : nullptr);
        EXPECT_EQ(owner.pid, c.pid) << c.name;
        EXPECT_EQ(owner.binary, c.binary) << c.name;
    }
}

}  // namespace
