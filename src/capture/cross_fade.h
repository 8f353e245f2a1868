#pragma once

#include <cstddef>

// A cut in a stream (frames dropped, or silence put in) makes no click: the first frames after
// the cut fade in from the frames that would have played there without it, over a millisecond.

// A millisecond of frames at this rate.
constexpr std::size_t crossFadeFrames(std::size_t framesPerSecond) {
    return framesPerSecond / 1000;
}

// after(i) is the i-th frame after the cut (a float reference, faded in place), before(i) the
// i-th frame that would have played there.
template <class After, class Before>
void crossFade(std::size_t frames, After after, Before before) {
    for (std::size_t i = 0; i < frames; ++i) {
        const float weight = static_cast<float>(i + 1) / static_cast<float>(frames + 1);
        float& kept = after(i);
        kept = before(i) * (1.0f - weight) + kept * weight;
    }
}
