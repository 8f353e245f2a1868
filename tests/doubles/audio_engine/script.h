#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The double's script: one directive per line, "key arg arg ...", '#' starts a comment.
// Read once from the file named by QUILLMERE_DOUBLE_SCRIPT. What the program passed to the
// double is appended, one line per event, to the file named by QUILLMERE_DOUBLE_RECORD.
struct ScriptLine {
    std::string key;
    std::vector<std::string> args;
};

class Script {
public:
    static const Script& instance();

    const ScriptLine* find(const std::string& key) const;
    std::vector<const ScriptLine*> all(const std::string& key) const;
    // The HRESULT a directive gives ("key HR" or "key fail HR"), or the fallback when absent.
    HRESULT result(const std::string& key, HRESULT fallback = S_OK) const;

private:
    std::vector<ScriptLine> lines_;
};

HRESULT parseHresult(const std::string& text);

// Builds a WAVEFORMATEX (or WAVEFORMATEXTENSIBLE) from "pcm|float|ext-pcm|ext-float|tag=N
// rate channels bits", starting at args[first]. Returns its bytes.
std::vector<std::uint8_t> parseFormat(const std::vector<std::string>& args, std::size_t first);

void record(const std::string& line);
std::string hexBytes(const void* data, std::size_t size);
std::string formatGuid(const GUID& guid);
std::string narrow(const wchar_t* text);
