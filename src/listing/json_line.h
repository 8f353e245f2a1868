#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The one line a listing writes: "[" records separated by "," "]" and a newline.

struct AppRecord {
    std::uint32_t pid = 0;
    std::wstring name;
    std::wstring exe;
    std::wstring path;
};

// {"pid":N,"name":"..."}, the name escaped (a Windows file name never needs it; a Linux one may
// hold quotes or backslashes).
std::string sessionRecord(std::uint32_t pid, const std::wstring& name);

// {"pid":N,"name":"...","exe":"...","path":"..."}, every string escaped.
std::string appRecord(const AppRecord& app);

// The records between brackets, ended by a newline.
std::string jsonListLine(const std::vector<std::string>& records);

// Writes the line to standard output and flushes it.
void writeJsonListLine(const std::vector<std::string>& records);
