// escapeJson: for any valid UTF-8 text, the escaped text between quotes is a JSON string equal
// to the text.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"

namespace {

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
