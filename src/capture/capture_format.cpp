#include "capture/capture_format.h"
#include "common/protocol_text.h"

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
    return kFormatLinePrefix + std::to_string(format.sampleRate) + "Hz, " + std::to_string(format.channels) +
           " channels, " + std::to_string(format.bitsPerSample) + " bits, " + (format.isFloat ? "float" : "integer");
}
