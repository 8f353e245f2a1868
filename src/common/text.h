#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// Text rules shared by the listings, the ducking engine and the log.

// UTF-16 to UTF-8, as WideCharToMultiByte(CP_UTF8, 0) converts a NUL-terminated string: stops at
// the first NUL, a lone surrogate becomes U+FFFD. Empty for an empty string.
std::string wideToUtf8(const std::wstring& text);

// UTF-8 to wide text: code points where wchar_t holds them (Linux), UTF-16 code units where it
// is 16 bits (Windows). A byte that starts no valid sequence becomes U+FFFD.
std::wstring utf8ToWide(const std::string& text);

// Makes UTF-8 text safe between the quotes of a JSON string. Bytes from 0x80 pass unchanged.
std::string escapeJson(const std::string& text);

// Makes text that another process chose (a stream's binary name, a session's identifier) safe
// inside a log line: each control byte (below 0x20, and 0x7F) becomes \x and two lower-case hex
// digits, so that such text can neither end the line nor start another (a newline is written
// \x0a). Every other byte passes unchanged, the backslash too.
std::string escapeControlBytes(std::string_view text);

// True when the name, with A-Z lowered, contains "quillmere", "torvanel" or "electron".
bool isExcludedProcessName(const std::wstring& name);

// Equal length and equal code units once A-Z are folded to a-z; nothing else is folded.
bool namesEqual(const std::wstring& a, const std::wstring& b);

// A whole decimal number: one or more ASCII digits and nothing else (no sign, no white space),
// leading zeros allowed, at most `largest`. Nothing for any other text.
std::optional<std::uint64_t> parseWholeDecimal(std::string_view text,
                                               std::uint64_t largest = std::numeric_limits<std::uint64_t>::max());
