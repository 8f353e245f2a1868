#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The playback devices and audio sessions the script describes, with the volumes the program
// sets on them. One world per process: volumes persist from one enumeration to the next.
//
//   device ID [default] [disabled] [item_fail=HR] [activate_fail=HR] [enum_fail=HR]
//   session DEVICE pid=N|self id=TEXT [instance=TEXT] [inactive] [volume=F] [no_control2]
//           [no_volume] [set_fail=HR] [late_set_fail=HR] [read_fail=HR] [id_fail=HR]
//           [pid_result=HR] [get_fail=HR] [active_after_ms=N] [inactive_after_ms=N]
//           [absent_from_ms=N absent_until_ms=N] [peak=F] [peak_fail=HR] [no_meter]
//   volume_state PATH
//
// Without device lines there is one default device, "speakers". Times count from the moment
// the double was loaded; an absent session is not enumerated at all. set_fail fails every
// SetMasterVolume, late_set_fail every one after the first in a process; read_fail fails
// GetMasterVolume; get_fail fails GetSession. The session's peak meter reads `peak` (0 unless
// given); peak_fail fails GetPeakValue; no_meter refuses the meter to QueryInterface, which
// records "meter ID" either way. With volume_state, the volumes outlive the
// process: they are read from that file (lines "ID VOLUME") when the double loads, and the
// session's line is rewritten after every volume set, so that a later process (a guardian, the
// next run) sees them; a test changes a volume "as the user" by writing the file.
struct SessionState {
    std::string device;
    DWORD pid = 0;
    std::wstring id;
    std::wstring instance;
    bool inactive = false;
    float volume = 1.0f;
    bool noControl2 = false;
    bool noVolume = false;
    HRESULT setFailure = S_OK;
    HRESULT lateSetFailure = S_OK;
    HRESULT readFailure = S_OK;
    int setCalls = 0;
    HRESULT idFailure = S_OK;
    HRESULT pidResult = S_OK;
    HRESULT getFailure = S_OK;
    long activeAfterMs = -1;
    long inactiveAfterMs = -1;
    long absentFromMs = -1;
    long absentUntilMs = -1;
    float peak = 0.0f;
    HRESULT peakFailure = S_OK;
    bool noMeter = false;
};

struct DeviceState {
    std::string id;
    bool isDefault = false;
    bool active = true;
    HRESULT itemFailure = S_OK;
    HRESULT activateFailure = S_OK;
    HRESULT enumFailure = S_OK;
};

class SessionWorld {
public:
    static SessionWorld& instance();

    std::vector<DeviceState> devices() const { return devices_; }
    const DeviceState* defaultDevice() const;
    // Indexes into the session list of the device's sessions present now, in script order.
    std::vector<std::size_t> sessionsOf(const std::string& device) const;
    SessionState session(std::size_t index) const;
    bool isActive(std::size_t index) const;
    HRESULT setVolume(std::size_t index, float volume);
    HRESULT readVolume(std::size_t index, float& volume) const;

private:
    SessionWorld();
    long elapsedMs() const;
    void loadState();
    void saveVolume(const SessionState& changed) const;

    mutable std::mutex mutex_;
    std::vector<DeviceState> devices_;
    std::vector<SessionState> sessions_;
    std::string statePath_;
    ULONGLONG loadedAt_;
};

std::wstring widen(const std::string& text);
