#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/capture_format.h"

// Whether captured samples hold sound: one sample that is not zero (unsigned 8-bit: not 128;
// float: neither 0 nor -0). The scan stops at the first such sample.
using SoundScan = bool (*)(const std::uint8_t* data, std::size_t samples);

// The scan for the format's sample type, chosen once; null for the formats the converter
// decodes to silence (PcmDownconverter), where nothing is ever heard.
SoundScan chooseSoundScan(const FormatSummary& format);
