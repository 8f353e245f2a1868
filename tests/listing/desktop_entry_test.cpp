#include "listing/desktop_entry.h"

#include <gtest/gtest.h>

namespace {

TEST(DesktopEntry, NameAndProgramOfTheMainGroup) {
    struct Case {
        const char* text;
        const char* name;  // nullptr: no entry
        const char* executable;
        bool hidden;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nName=Player\nExec=/usr/bin/player %U\n", "Player", "player", false},
        {"[Desktop Entry]\r\nName = Spaced \r\nExec=\"/opt/My Apps/tool\" --x\r\n", "Spaced", "tool", false},
        {"[Desktop Entry]\nExec=env GDK_BACKEND=x11 LANG=C game --full\nName=Game\nNoDisplay=true\n", "Game", "game",
         true},
        {"[Desktop Entry]\nName=First\nName[de]=Erste\nExec=first\n[Desktop Action New]\nName=Other\nExec=other\n",
         "First", "first", false},
        {"# comment\n[Desktop Entry]\nName=Nothing to run\n", nullptr, "", false},
        {"[Other Group]\nName=X\nExec=x\n", nullptr, "", false},
        {"[Desktop Entry]\nName=Only env\nExec=env A=1\n", nullptr, "", false},
    };
    for (const Case& c : cases) {
        const auto entry = parseDesktopEntry(c.text);
        ASSERT_EQ(entry.has_value(), c.name != nullptr) << c.text;
        if (entry) {
            EXPECT_EQ(entry->name, c.name);
            EXPECT_EQ(entry->executable, c.executable);
            EXPECT_EQ(entry->hidden, c.hidden);
        }
    }
}

}  // namespace
