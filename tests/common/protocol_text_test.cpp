#include "common/protocol_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The session listing's trail names sessions by texts their processes chose: none of them can
// end the line.
TEST(ProtocolText, TheSessionListingsTrailEscapesControlBytesInNamesAndIdentifiers) {
    struct Case {
        const char* name;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {"session", listingSessionLine(0, 42, "a\nb.exe", "{0.0.0.00000000}|\\x\r%b"),
         "[win-helper] Session on dev 0: PID=42, Name='a\\x0ab.exe', InstanceID='{0.0.0.00000000}|\\x\\x0d%b'"},
        {"parsed name", listingParsedNameLine("c\x7f.exe"),
         "[win-helper]   Parsed fallback Name='c\\x7f.exe' from InstanceID"},
        {"resolved", listingResolvedPidLine(7, 9, "d\x01.exe"), "[win-helper]   Resolved PID 7 -> 9 for 'd\\x01.exe'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.line, c.expected) << c.name;
    }
}

}  // namespace
