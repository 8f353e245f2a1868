#pragma once

#include <string>
#include <vector>

// Hands the audio engine double its script for the next run of the program and reads back
// what the program passed to it.
class AudioEngineDouble {
public:
    explicit AudioEngineDouble(const std::string& script);
    ~AudioEngineDouble();
    AudioEngineDouble(const AudioEngineDouble&) = delete;
    AudioEngineDouble& operator=(const AudioEngineDouble&) = delete;

    std::vector<std::string> recorded() const;
    // The recorded lines that start with this text.
    std::vector<std::string> recorded(const std::string& prefix) const;

private:
    std::string scriptPath_;
    std::string recordPath_;
};
