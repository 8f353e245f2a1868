#include "support/audio_engine_double.h"

#include <windows.h>

#include <fstream>

namespace {

std::string tempFile(const char* prefix) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, prefix, 0, path);
    return path;
}

}  // namespace

AudioEngineDouble::AudioEngineDouble(const std::string& script)
    : scriptPath_(tempFile("qsc")), recordPath_(tempFile("qrc")) {
    std::ofstream(scriptPath_, std::ios::binary) << script;
    std::ofstream(recordPath_, std::ios::binary | std::ios::trunc);
    SetEnvironmentVariableA("QUILLMERE_DOUBLE_SCRIPT", scriptPath_.c_str());
    SetEnvironmentVariableA("QUILLMERE_DOUBLE_RECORD", recordPath_.c_str());
}

AudioEngineDouble::~AudioEngineDouble() {
    SetEnvironmentVariableA("QUILLMERE_DOUBLE_SCRIPT", nullptr);
    SetEnvironmentVariableA("QUILLMERE_DOUBLE_RECORD", nullptr);
    DeleteFileA(scriptPath_.c_str());
    DeleteFileA(recordPath_.c_str());
}

std::vector<std::string> AudioEngineDouble::recorded() const {
    return recorded("");
}

std::vector<std::string> AudioEngineDouble::recorded(const std::string& prefix) const {
    std::ifstream file(recordPath_, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}
