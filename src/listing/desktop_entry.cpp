#include "listing/desktop_entry.h"

#include <vector>

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Exec's words, with double quotes grouping and backslash escaping inside them.
std::vector<std::string> words(std::string_view command) {
    std::vector<std::string> result;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quoted && c == '\\' && i + 1 < command.size()) {
            word.push_back(command[++i]);
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                result.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        result.push_back(word);
    }
    return result;
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text) {
    DesktopEntry entry;
    std::string exec;
    bool inMainGroup = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || line.empty() || line.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (key == "Name") {
            entry.name = value;
        } else if (key == "Exec") {
            exec = value;
        } else if ((key == "Hidden" || key == "NoDisplay") && value == "true") {
            entry.hidden = true;
        }
    }
    std::vector<std::string> command = words(exec);
    std::size_t program = 0;
    if (!command.empty() && (command[0] == "env" || command[0].rfind("/usr/bin/env", 0) == 0)) {
        for (program = 1; program < command.size() && command[program].find('=') != std::string::npos; ++program) {
        }
    }
    if (entry.name.empty() || program >= command.size()) {
        return std::nullopt;
    }
    const std::string& path = command[program];
    entry.executable = path.substr(path.rfind('/') + 1);
    return entry;
}
