#include "common/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Clock = PendingLines::Clock;
using std::chrono::milliseconds;

TEST(PendingLines, HandsOverWhatIsWithinItsBoundInOrderAndDropsTheRest) {
    struct Push {
        int atMs;
        const char* line;
    };
    struct Case {
        const char* name;
        std::vector<Push> pushes;
        int takeAtMs;
        const char* taken;
    };
    const Case cases[] = {
        {"all fresh, in order", {{0, "a\n"}, {10, "b\n"}, {20, "c\n"}}, 30, "a\nb\nc\n"},
        {"exactly at the bound is still taken", {{0, "a\n"}}, 500, "a\n"},
        {"one past the bound is dropped", {{0, "a\n"}, {100, "b\n"}}, 501, "b\n"},
        {"all stale: nothing", {{0, "a\n"}, {1, "b\n"}}, 900, ""},
        {"a stale front is dropped when a line comes", {{0, "a\n"}, {600, "b\n"}}, 600, "b\n"},
        {"nothing waiting", {}, 0, ""},
    };
    const Clock::time_point zero = Clock::now();
    for (const Case& c : cases) {
        PendingLines pending;
        for (const Push& push : c.pushes) {
            pending.push(push.line, zero + milliseconds(push.atMs));
        }
        EXPECT_EQ(pending.take(zero + milliseconds(c.takeAtMs)), c.taken) << c.name;
        EXPECT_TRUE(pending.empty()) << c.name;
    }
}

}  // namespace
