#include "session_world.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "script.h"

namespace {

// "key=value" among the arguments, or the fallback.
std::string option(const std::vector<std::string>& args, const std::string& key, const std::string& fallback = "") {
    for (const auto& arg : args) {
        if (arg.rfind(key + "=", 0) == 0) {
            return arg.substr(key.size() + 1);
        }
    }
    return fallback;
}

bool flag(const std::vector<std::string>& args, const std::string& word) {
    for (const auto& arg : args) {
        if (arg == word) {
            return true;
        }
    }
    return false;
}

HRESULT optionResult(const std::vector<std::string>& args, const std::string& key) {
    const std::string value = option(args, key);
    return value.empty() ? S_OK : parseHresult(value);
}

}  // namespace

std::wstring widen(const std::string& text) {
    std::wstring wide;
    for (unsigned char c : text) {
        wide.push_back(static_cast<wchar_t>(c));
    }
    return wide;
}

SessionWorld& SessionWorld::instance() {
    static SessionWorld world;
    return world;
}

SessionWorld::SessionWorld() : loadedAt_(GetTickCount64()) {
    const Script& script = Script::instance();
    for (const ScriptLine* line : script.all("device")) {
        DeviceState device;
        device.id = line->args.at(0);
        device.isDefault = flag(line->args, "default");
        device.active = !flag(line->args, "disabled");
        device.itemFailure = optionResult(line->args, "item_fail");
        device.activateFailure = optionResult(line->args, "activate_fail");
        device.enumFailure = optionResult(line->args, "enum_fail");
        devices_.push_back(device);
    }
    if (devices_.empty()) {
        devices_.push_back({"speakers", true, true, S_OK, S_OK, S_OK});
    }
    for (const ScriptLine* line : script.all("session")) {
        SessionState session;
        session.device = line->args.at(0);
        const std::string pid = option(line->args, "pid", "0");
        session.pid = pid == "self" ? GetCurrentProcessId() : static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 0));
        session.id = widen(option(line->args, "id"));
        session.instance = widen(option(line->args, "instance"));
        session.inactive = flag(line->args, "inactive");
        session.volume = std::strtof(option(line->args, "volume", "1").c_str(), nullptr);
        session.noControl2 = flag(line->args, "no_control2");
        session.noVolume = flag(line->args, "no_volume");
        session.setFailure = optionResult(line->args, "set_fail");
        session.lateSetFailure = optionResult(line->args, "late_set_fail");
        session.readFailure = optionResult(line->args, "read_fail");
        session.idFailure = optionResult(line->args, "id_fail");
        session.pidResult = optionResult(line->args, "pid_result");
        session.getFailure = optionResult(line->args, "get_fail");
        session.activeAfterMs = std::strtol(option(line->args, "active_after_ms", "-1").c_str(), nullptr, 10);
        session.inactiveAfterMs = std::strtol(option(line->args, "inactive_after_ms", "-1").c_str(), nullptr, 10);
        session.absentFromMs = std::strtol(option(line->args, "absent_from_ms", "-1").c_str(), nullptr, 10);
        session.absentUntilMs = std::strtol(option(line->args, "absent_until_ms", "-1").c_str(), nullptr, 10);
        session.peak = std::strtof(option(line->args, "peak", "0").c_str(), nullptr);
        session.peakFailure = optionResult(line->args, "peak_fail");
        session.noMeter = flag(line->args, "no_meter");
        sessions_.push_back(session);
    }
    if (const ScriptLine* state = script.find("volume_state")) {
        statePath_ = state->args.at(0);
        loadState();
    }
}

void SessionWorld::loadState() {
    std::FILE* file = std::fopen(statePath_.c_str(), "rb");
    if (file == nullptr) {
        return;
    }
    char id[256];
    float volume = 0.0f;
    while (std::fscanf(file, "%255s %f", id, &volume) == 2) {
        for (auto& session : sessions_) {
            if (session.id == widen(id)) {
                session.volume = volume;
            }
        }
    }
    std::fclose(file);
}

// Only the session set changes in the file, the others keep what other processes wrote there
// (one of them may have set its own session since this process read the file): the file is
// read and replaced under a lock all processes share, and replaced by a rename, so that a reader
// never sees half a file.
void SessionWorld::saveVolume(const SessionState& changed) const {
    const HANDLE lock = CreateMutexW(nullptr, FALSE, L"Local\\QuillmereDoubleVolumeState");
    if (lock != nullptr) {
        WaitForSingleObject(lock, INFINITE);
    }
    std::vector<std::pair<std::string, float>> volumes;
    if (std::FILE* file = std::fopen(statePath_.c_str(), "rb")) {
        char id[256];
        float volume = 0.0f;
        while (std::fscanf(file, "%255s %f", id, &volume) == 2) {
            volumes.emplace_back(id, volume);
        }
        std::fclose(file);
    }
    const std::string changedId = narrow(changed.id.c_str());
    const auto found =
        std::find_if(volumes.begin(), volumes.end(), [&](const auto& item) { return item.first == changedId; });
    if (found == volumes.end()) {
        volumes.emplace_back(changedId, changed.volume);
    } else {
        found->second = changed.volume;
    }
    const std::string temporary = statePath_ + ".new";
    if (std::FILE* file = std::fopen(temporary.c_str(), "wb")) {
        for (const auto& [id, volume] : volumes) {
            std::fprintf(file, "%s %.9g\n", id.c_str(), static_cast<double>(volume));
        }
        std::fclose(file);
        // A test that reads the file at that moment holds it open; its read is brief.
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (MoveFileExA(temporary.c_str(), statePath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                break;
            }
            Sleep(1);
        }
    }
    if (lock != nullptr) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}

const DeviceState* SessionWorld::defaultDevice() const {
    for (const auto& device : devices_) {
        if (device.isDefault) {
            return &device;
        }
    }
    return &devices_.front();
}

long SessionWorld::elapsedMs() const {
    return static_cast<long>(GetTickCount64() - loadedAt_);
}

std::vector<std::size_t> SessionWorld::sessionsOf(const std::string& device) const {
    const long now = elapsedMs();
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        const SessionState& session = sessions_[i];
        const bool absent = session.absentFromMs >= 0 && now >= session.absentFromMs && now < session.absentUntilMs;
        if (session.device == device && !absent) {
            found.push_back(i);
        }
    }
    return found;
}

SessionState SessionWorld::session(std::size_t index) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.at(index);
}

bool SessionWorld::isActive(std::size_t index) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const SessionState& session = sessions_.at(index);
    const long elapsed = elapsedMs();
    if (session.activeAfterMs >= 0 && elapsed < session.activeAfterMs) {
        return false;
    }
    if (session.inactiveAfterMs >= 0 && elapsed >= session.inactiveAfterMs) {
        return false;
    }
    return !session.inactive;
}

HRESULT SessionWorld::setVolume(std::size_t index, float volume) {
    const std::lock_guard<std::mutex> lock(mutex_);
    SessionState& session = sessions_.at(index);
    char text[64];
    std::snprintf(text, sizeof text, " %g", static_cast<double>(volume));
    const HRESULT failure =
        ++session.setCalls > 1 && FAILED(session.lateSetFailure) ? session.lateSetFailure : session.setFailure;
    if (FAILED(failure)) {
        record("set_volume_failed " + narrow(session.id.c_str()) + text);
        return failure;
    }
    session.volume = volume;
    record("set_volume " + narrow(session.id.c_str()) + text);
    if (!statePath_.empty()) {
        saveVolume(session);
    }
    return S_OK;
}

HRESULT SessionWorld::readVolume(std::size_t index, float& volume) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const SessionState& session = sessions_.at(index);
    if (FAILED(session.readFailure)) {
        return session.readFailure;
    }
    volume = session.volume;
    return S_OK;
}
