#pragma once

#include <optional>
#include <string>
#include <string_view>

// Desktop entries (the .desktop files of the freedesktop.org Desktop Entry standard): the name an
// application goes by, for the application listing on Linux.

struct DesktopEntry {
    std::string name;        // Name= of the [Desktop Entry] group (the untranslated one)
    std::string executable;  // the file name of Exec='s program, without its folder
    bool hidden = false;     // Hidden=true or NoDisplay=true
};

// The entry a .desktop file describes; nothing when it has no [Desktop Entry] group with a Name
// and an Exec. Exec's first word may be quoted; "env VAR=value program" names program.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text);
