#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/pulse_connection_linux.h"
#include "ducking/session_volumes.h"

// The sink inputs of the sound server as the ducking engine's sessions: identifier
// "sink-input:<cookie>:<index>" (an index names one stream of one server instance for good; the
// cookie names the instance, so that no stream of a server started again takes the identifier of
// one before), the owning process (streamOwner), active while not corked, the stream-restore key
// as its key. A level is
// the stream's linear volume, its loudest channel's; a level is set by scaling every channel of
// the volume last read alike, so that a stream's balance survives, and the level read is set
// back channel for channel. The server keeps volumes in steps, so a level read back lies within
// half a step of the one set. The server's memory of each application's volume (stream-restore)
// is kept at the volume from before, so that a stream that ends while lowered does not lower the
// application's next one.
class PulseSessionVolumes final : public SessionVolumes {
public:
    PulseSessionVolumes() = default;
    explicit PulseSessionVolumes(const PulseConnection& pulse) : pulse_(&pulse) {}
    // The connection to walk; until it is attached, and while its server is away, no walk finds
    // the server.
    void attach(const PulseConnection& pulse) { pulse_ = &pulse; }

    std::string label(std::size_t session, const ProcessTable& table) const override;
    bool openVolume(std::size_t session, PlatformError& error) override;
    std::optional<float> readLevel(std::size_t session, PlatformError& error) override;
    bool setLevel(std::size_t session, float level, PlatformError& error) override;
    LevelMatch levelMatch() const override;
    std::string server() const override;
    bool unseenMayReturn() const override { return false; }
    void remember(const std::wstring& identifier, const std::string& key, float before) override;

private:
    bool findSessions(std::vector<AudioSession>& sessions) override;

    // A stream's channels when its level was last read, with what the server's memory needs.
    struct Read {
        pa_cvolume volume;
        float level;
        std::string restoreKey;
        pa_channel_map map;
        bool muted;
    };
    pa_cvolume channelsAt(const Read& read, float level) const;

    const PulseConnection* pulse_ = nullptr;
    // The last walk's, and its server instance's.
    std::vector<PulseConnection::SinkInput> inputs_;
    std::uint64_t instance_ = 0;
    std::string cookie_;
    std::map<std::wstring, Read> reads_;
};
