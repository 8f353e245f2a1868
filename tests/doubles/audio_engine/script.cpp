#include "script.h"

#include <mmreg.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

// {00000001-0000-0010-8000-00AA00389B71} and {00000003-...}: PCM and IEEE float sub-formats.
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

std::string environment(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

}  // namespace

const Script& Script::instance() {
    static const Script script = [] {
        Script loaded;
        std::ifstream file(environment("QUILLMERE_DOUBLE_SCRIPT"));
        std::string text;
        while (std::getline(file, text)) {
            const auto hash = text.find('#');
            if (hash != std::string::npos) {
                text.erase(hash);
            }
            std::istringstream words(text);
            ScriptLine line;
            if (!(words >> line.key)) {
                continue;
            }
            for (std::string word; words >> word;) {
                line.args.push_back(word);
            }
            loaded.lines_.push_back(std::move(line));
        }
        return loaded;
    }();
    return script;
}

const ScriptLine* Script::find(const std::string& key) const {
    for (const auto& line : lines_) {
        if (line.key == key) {
            return &line;
        }
    }
    return nullptr;
}

std::vector<const ScriptLine*> Script::all(const std::string& key) const {
    std::vector<const ScriptLine*> found;
    for (const auto& line : lines_) {
        if (line.key == key) {
            found.push_back(&line);
        }
    }
    return found;
}

HRESULT Script::result(const std::string& key, HRESULT fallback) const {
    const ScriptLine* line = find(key);
    if (line == nullptr || line->args.empty()) {
        return fallback;
    }
    // "key HR" and "key fail HR" read the same.
    const std::size_t at = line->args[0] == "fail" && line->args.size() > 1 ? 1 : 0;
    return parseHresult(line->args[at]);
}

HRESULT parseHresult(const std::string& text) {
    return static_cast<HRESULT>(std::strtoul(text.c_str(), nullptr, 0));
}

std::vector<std::uint8_t> parseFormat(const std::vector<std::string>& args, std::size_t first) {
    const std::string kind = args.at(first);
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.nSamplesPerSec = static_cast<DWORD>(std::stoul(args.at(first + 1)));
    format.Format.nChannels = static_cast<WORD>(std::stoul(args.at(first + 2)));
    format.Format.wBitsPerSample = static_cast<WORD>(std::stoul(args.at(first + 3)));
    format.Format.nBlockAlign = static_cast<WORD>(format.Format.nChannels * format.Format.wBitsPerSample / 8);
    format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * format.Format.nSamplesPerSec;
    std::size_t size = sizeof(WAVEFORMATEX);
    if (kind == "pcm") {
        format.Format.wFormatTag = WAVE_FORMAT_PCM;
    } else if (kind == "float") {
        format.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    } else if (kind == "ext-pcm" || kind == "ext-float") {
        format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        format.Samples.wValidBitsPerSample = format.Format.wBitsPerSample;
        format.SubFormat = kind == "ext-pcm" ? kSubtypePcm : kSubtypeFloat;
        size = sizeof(WAVEFORMATEXTENSIBLE);
    } else {
        format.Format.wFormatTag = static_cast<WORD>(std::stoul(kind.substr(kind.find('=') + 1), nullptr, 0));
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&format);
    return {bytes, bytes + size};
}

void record(const std::string& line) {
    static std::mutex mutex;
    static const std::string path = environment("QUILLMERE_DOUBLE_RECORD");
    if (path.empty()) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string hexBytes(const void* data, std::size_t size) {
    std::string text;
    char piece[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(piece, sizeof piece, "%02x", static_cast<const std::uint8_t*>(data)[i]);
        text += piece;
    }
    return text;
}

std::string formatGuid(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string narrow(const wchar_t* text) {
    std::string result;
    for (; text != nullptr && *text != 0; ++text) {
        result.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return result;
}
