#include "ducking/session_volumes_linux.h"

#include <cmath>
#include <iterator>
#include <set>

namespace {

std::wstring identifierOf(const std::string& cookie, std::uint32_t index) {
    return L"sink-input:" + std::wstring(cookie.begin(), cookie.end()) + L":" + std::to_wstring(index);
}

// A level as the server gives it back: volumes are kept in steps, so four decimals are all a
// level read back has.
float levelOf(const pa_cvolume& volume) {
    return static_cast<float>(std::round(pa_sw_volume_to_linear(pa_cvolume_max(&volume)) * 10000.0) / 10000.0);
}

}  // namespace

bool PulseSessionVolumes::findSessions(std::vector<AudioSession>& sessions) {
    inputs_.clear();
    std::optional<PulseConnection::SinkInputs> found = pulse_ == nullptr ? std::nullopt : pulse_->sinkInputs();
    if (!found) {
        return false;
    }
    inputs_ = std::move(found->inputs);
    instance_ = found->instance;
    cookie_ = std::move(found->cookie);
    std::set<std::wstring> listed;
    for (const PulseConnection::SinkInput& input : inputs_) {
        // Sounds unless muted or at 0, whoever set it so.
        const bool audible = !input.muted && (!input.hasVolume || pa_cvolume_max(&input.volume) > PA_VOLUME_MUTED);
        sessions.push_back({identifierOf(cookie_, input.index), input.pid, !input.corked, input.restoreKey, audible});
        listed.insert(sessions.back().identifier);
    }
    // A stream gone is gone for good: its channels are forgotten with it.
    for (auto read = reads_.begin(); read != reads_.end();) {
        read = listed.count(read->first) > 0 ? std::next(read) : reads_.erase(read);
    }
    return true;
}

std::string PulseSessionVolumes::label(std::size_t session, const ProcessTable&) const {
    return sessionLabel(inputs_[session].binary, inputs_[session].pid);
}

bool PulseSessionVolumes::openVolume(std::size_t session, PlatformError& error) {
    error = PA_ERR_NOTSUPPORTED;
    return inputs_[session].hasVolume;
}

std::optional<float> PulseSessionVolumes::readLevel(std::size_t session, PlatformError&) {
    const PulseConnection::SinkInput& input = inputs_[session];
    const float level = levelOf(input.volume);
    reads_[identifierOf(cookie_, input.index)] = {input.volume, level, input.restoreKey, input.map, input.muted};
    return level;
}

pa_cvolume PulseSessionVolumes::channelsAt(const Read& read, float level) const {
    if (level == read.level) {
        return read.volume;
    }
    pa_cvolume result = read.volume;
    if (read.level <= 0.0f) {
        // From silence, every channel at the level.
        pa_cvolume_set(&result, read.volume.channels, pa_sw_volume_from_linear(level));
        return result;
    }
    const double ratio = static_cast<double>(level) / read.level;
    for (unsigned channel = 0; channel < result.channels; ++channel) {
        result.values[channel] = pa_sw_volume_from_linear(ratio * pa_sw_volume_to_linear(read.volume.values[channel]));
    }
    return result;
}

bool PulseSessionVolumes::setLevel(std::size_t session, float level, PlatformError& error) {
    const PulseConnection::SinkInput& input = inputs_[session];
    const auto read = reads_.find(identifierOf(cookie_, input.index));
    const Read current{input.volume, levelOf(input.volume), input.restoreKey, input.map, input.muted};
    if (!pulse_->setSinkInputVolume(instance_, input.index,
                                    channelsAt(read == reads_.end() ? current : read->second, level))) {
        error = pulse_->lastError();
        return false;
    }
    return true;
}

LevelMatch PulseSessionVolumes::levelMatch() const {
    // Half a step of the four decimals a level reads back with, and float rounding.
    return {0.00005f, 1e-6f};
}

std::string PulseSessionVolumes::server() const {
    return pulse_ == nullptr ? std::string() : pulse_->serverIdentity();
}

void PulseSessionVolumes::remember(const std::wstring& identifier, const std::string& key, float before) {
    const auto read = identifier.empty() ? reads_.end() : reads_.find(identifier);
    if (read == reads_.end()) {
        // The stream is gone, and its channels with it: every channel alike, which the server
        // maps onto the application's next stream.
        if (key.empty()) {
            return;
        }
        pa_channel_map mono;
        pa_channel_map_init_mono(&mono);
        pa_cvolume volume;
        pa_cvolume_set(&volume, 1, pa_sw_volume_from_linear(before));
        pulse_->rememberVolume(key, mono, volume, false);
        return;
    }
    // The server remembers the volume just set as the application's own, for its next stream;
    // and a stream that ended while lowered may have left the lowered volume as its memory
    // (PipeWire's session manager stores the volume set a moment after the program's word at
    // the lowering): it is told the volume from before, in the channels last read, instead.
    if (!read->second.restoreKey.empty()) {
        pulse_->rememberVolume(read->second.restoreKey, read->second.map, channelsAt(read->second, before),
                               read->second.muted);
    }
}
