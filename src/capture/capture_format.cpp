#include "capture/capture_format.h"

bool decideFloatFlag(std::uint16_t formatTag, bool extensibleSubFormatIsPcm) {
    if (formatTag == kWaveFormatPcm) {
        return false;
    }
    if (formatTag == kWaveFormatExtensible) {
        return !extensibleSubFormatIsPcm;
    }
    return true;
}

std::string formatLineText(const FormatSummary& format) {
    return "[win-helper] Format: " + std::to_string(format.sampleRate) + "Hz, " + std::to_string(format.channels) +
           " channels, " + std::to_string(format.bitsPerSample) + " bits, " + (format.isFloat ? "float" : "integer");
}
