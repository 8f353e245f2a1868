// The instance-identifier parser over arbitrary UTF-16 text: a result is always a piece of the
// identifier that ends with ".exe" or ".EXE" and holds only name characters before it.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "listing/listing_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring id;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        id.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    const auto name = parseExeNameFromInstanceId(id);
    if (!name) {
        return 0;
    }
    if (name->size() < 4 || id.find(*name) == std::wstring::npos) {
        std::abort();
    }
    const std::wstring extension = name->substr(name->size() - 4);
    if (extension != L".exe" && extension != L".EXE") {
        std::abort();
    }
    for (std::size_t i = 0; i + 4 < name->size(); ++i) {
        const wchar_t c = (*name)[i];
        const bool nameCharacter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                                   c == L'.' || c == L'-' || c == L'_';
        if (!nameCharacter) {
            std::abort();
        }
    }
    return 0;
}
