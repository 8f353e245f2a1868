#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/process_table.h"
#include "ducking/ducking_journal.h"

// What the ducking engine sees of the default playback device's audio sessions, and the only
// way it changes their volumes. One implementation per platform (the audio session API on
// Windows, the sound server's sink inputs on Linux), and a fake one in the tests. Levels are
// linear: 0..1 on Windows, up to the sound server's maximum on Linux.

struct AudioSession {
    std::wstring identifier;  // its key in the ledger and the journal; empty: it cannot be kept
    std::uint32_t pid = 0;    // 0: no process
    bool active = false;      // playing now
    // The key under which the platform remembers the application's volume for its next session
    // (the Linux server's stream-restore key); empty where there is none.
    std::string key;
    // Whether it sounds (Windows: its peak meter reads above 0.001; Linux: it is neither muted
    // nor at volume 0); nothing where that is not asked for or cannot be had.
    std::optional<bool> audible;
};

// A failed call's number as the log writes it: an HRESULT on Windows, libpulse's PA_ERR_... on
// Linux.
using PlatformError = long;

class SessionVolumes {
public:
    virtual ~SessionVolumes() = default;

    // One walk over the default device's sessions, in the platform's order, from walk() until
    // it goes out of scope; then the platform lets go of what it holds, before the calling
    // thread leaves the platform's API. One walk at a time. A session's index in sessions()
    // names it in the calls below while the walk lasts.
    class Walk {
    public:
        Walk(const Walk&) = delete;
        Walk& operator=(const Walk&) = delete;
        ~Walk() { volumes_.endWalk(); }

        // False, with no session, when the device cannot be reached.
        bool reached() const { return reached_; }
        const std::vector<AudioSession>& sessions() const { return sessions_; }

    private:
        friend class SessionVolumes;
        explicit Walk(SessionVolumes& volumes) : volumes_(volumes), reached_(volumes.findSessions(sessions_)) {}

        SessionVolumes& volumes_;
        std::vector<AudioSession> sessions_;
        const bool reached_;
    };
    Walk walk() { return Walk(*this); }

    // The session as log lines name it: "player.exe (pid 4242)".
    virtual std::string label(std::size_t session, const ProcessTable& table) const = 0;
    // Finds the session's volume control; false, with the error, when it has none.
    virtual bool openVolume(std::size_t session, PlatformError& error) = 0;
    // After openVolume: the level now; nothing, with the error, when it cannot be read.
    virtual std::optional<float> readLevel(std::size_t session, PlatformError& error) = 0;
    // After openVolume: false, with the error, when the level could not be set.
    virtual bool setLevel(std::size_t session, float level, PlatformError& error) = 0;
    // How far a level read back may lie from the one set and still be it.
    virtual LevelMatch levelMatch() const = 0;

    // The sound server instance the levels belong to (Linux: its name and cookie), which a
    // session's identifier is valid in; empty where there is only one.
    virtual std::string server() const { return {}; }
    // Whether a session the last walk did not find may come back under its identifier (Windows:
    // an application's session reopens under it). False where an identifier names one stream for
    // good (a Linux sink input's index): an entry of such a session can never be put back.
    virtual bool unseenMayReturn() const { return true; }

    // The one thing only a platform keeps beside the volume (the Linux server's memory of each
    // application's volume, which its next stream starts at) is told that the application's
    // volume is `before`: after a session was lowered, set to a new ratio, or put back by a
    // recovery; after an orderly restore, of each session it did not put back; and of a session
    // gone for good, once its entry goes. A session is named by its identifier, whose channels
    // the platform last read; one gone for good by an empty identifier, or one whose channels the
    // platform no longer holds, by its application's key (not empty) alone. Nothing where the platform keeps no such
    // memory.
    virtual void remember(const std::wstring& /*identifier*/, const std::string& /*key*/, float /*before*/) {}

protected:
    // A walk's two ends: the sessions found (false, finding none, when the device cannot be
    // reached), and the release of what the platform holds for them.
    virtual bool findSessions(std::vector<AudioSession>& sessions) = 0;
    virtual void endWalk() {}
};
