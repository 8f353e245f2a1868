#include "listing/json_line.h"

#include <cstdio>

#include "common/text.h"

std::string sessionRecord(std::uint32_t pid, const std::wstring& name) {
    return "{\"pid\":" + std::to_string(pid) + ",\"name\":\"" + escapeJson(wideToUtf8(name)) + "\"}";
}

std::string appRecord(const AppRecord& app) {
    return "{\"pid\":" + std::to_string(app.pid) + ",\"name\":\"" + escapeJson(wideToUtf8(app.name)) + "\",\"exe\":\"" +
           escapeJson(wideToUtf8(app.exe)) + "\",\"path\":\"" + escapeJson(wideToUtf8(app.path)) + "\"}";
}

std::string jsonListLine(const std::vector<std::string>& records) {
    std::string line = "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i > 0) {
            line += ",";
        }
        line += records[i];
    }
    return line + "]\n";
}

void writeJsonListLine(const std::vector<std::string>& records) {
    // stdout stays in the C runtime's text mode in the listings: on Windows the line ends in CR LF.
    const std::string line = jsonListLine(records);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
