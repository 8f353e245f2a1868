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
    return formatLine(format.sampleRate, format.channels, format.bitsPerSample, format.isFloat);
}
