// The text escapes, for any bytes:
// - escapeControlBytes: the escaped text reads back, byte for byte, as the text: each control
//   byte as \x and its two lower-case hex digits, every other byte as itself (so it holds no
//   control byte);
// - escapeJson: for valid UTF-8, the escaped text between quotes is a JSON string equal to the
//   text.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"

namespace {

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

int hexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

void checkControlEscape(const std::string& text) {
    const std::string escaped = escapeControlBytes(text);
    std::size_t at = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!isControl(byte)) {
            if (at >= escaped.size() || escaped[at] != c) {
                std::abort();
            }
            ++at;
            continue;
        }
        if (at + 4 > escaped.size() || escaped[at] != '\\' || escaped[at + 1] != 'x') {
            std::abort();
        }
        const int high = hexDigit(escaped[at + 2]);
        const int low = hexDigit(escaped[at + 3]);
        if (high < 0 || low < 0 || high * 16 + low != byte) {
            std::abort();
        }
        at += 4;
    }
    if (at != escaped.size()) {
        std::abort();
    }
}

bool isValidUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();  // dump throws on invalid UTF-8
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkControlEscape(text);
    if (!isValidUtf8(text)) {
        return 0;
    }
    const std::string quoted = "\"" + escapeJson(text) + "\"";
    const auto parsed = nlohmann::json::parse(quoted, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_string() || parsed.get<std::string>() != text) {
        std::abort();
    }
    return 0;
}
