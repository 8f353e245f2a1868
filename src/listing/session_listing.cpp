#include "listing/session_listing.h"

#include <windows.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <map>
#include <vector>

#include "app/com_ref.h"
#include "app/log.h"
#include "app/win_resources.h"
#include "ducking/process_table.h"
#include "listing/json_line.h"
#include "listing/listing_rules.h"
#include "listing/text.h"

namespace {

using SessionNames = std::map<std::uint32_t, std::wstring>;

LogLine::Hex hex(HRESULT hr) {
    return {static_cast<std::uint32_t>(hr)};
}

void listSession(UINT deviceIndex, int sessionIndex, IAudioSessionEnumerator* sessions, const ProcessTable& table,
                 std::uint32_t ownPid, SessionNames& names) {
    ComRef<IAudioSessionControl> control;
    HRESULT hr = sessions->GetSession(sessionIndex, control.put());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Device " << deviceIndex << " GetSession(" << sessionIndex << ") failed: 0x"
                  << hex(hr);
        return;
    }
    ComRef<IAudioSessionControl2> control2;
    hr = control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Device " << deviceIndex << " Session " << sessionIndex
                  << " QueryInterface IAudioSessionControl2 failed: 0x" << hex(hr);
        return;
    }

    DWORD pid = 0;
    std::wstring name;
    if (SUCCEEDED(control2->GetProcessId(&pid)) && pid != 0 && pid != ownPid) {
        const auto entry = table.find(pid);
        if (entry != table.end() && !entry->second.exeName.empty()) {
            name = entry->second.exeName;
        }
    }
    std::wstring instanceId;
    LPWSTR rawInstanceId = nullptr;
    if (SUCCEEDED(control2->GetSessionInstanceIdentifier(&rawInstanceId)) && rawInstanceId != nullptr) {
        const UniqueTaskMem<wchar_t> owner(rawInstanceId);
        instanceId = rawInstanceId;
    }
    LogLine() << "[win-helper] Session on dev " << deviceIndex << ": PID=" << pid << ", Name='" << wideToUtf8(name)
              << "'"
              << ", InstanceID='" << wideToUtf8(instanceId) << "'";

    if (name.empty() && !instanceId.empty()) {
        if (const auto parsed = parseExeNameFromInstanceId(instanceId)) {
            name = *parsed;
            LogLine() << "[win-helper]   Parsed fallback Name='" << wideToUtf8(name) << "' from InstanceID";
        }
    }
    if (name.empty()) {
        return;
    }
    if (pid == 0 || table.find(pid) == table.end()) {
        if (const auto resolved = resolvePidByName(name, table)) {
            LogLine() << "[win-helper]   Resolved PID " << pid << " -> " << *resolved << " for '" << wideToUtf8(name)
                      << "'";
            pid = *resolved;
        }
    }
    if (isHiddenSession(pid, name, ownPid)) {
        return;
    }
    names[pid] = name;
}

void listDevice(UINT deviceIndex, IMMDeviceCollection* devices, const ProcessTable& table, std::uint32_t ownPid,
                SessionNames& names) {
    ComRef<IMMDevice> device;
    HRESULT hr = devices->Item(deviceIndex, device.put());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Item(" << deviceIndex << ") failed: 0x" << hex(hr);
        return;
    }
    ComRef<IAudioSessionManager2> manager;
    hr = device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr, manager.putVoid());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Device " << deviceIndex << " Activate IAudioSessionManager2 failed: 0x" << hex(hr);
        return;
    }
    ComRef<IAudioSessionEnumerator> sessions;
    hr = manager->GetSessionEnumerator(sessions.put());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Device " << deviceIndex << " GetSessionEnumerator failed: 0x" << hex(hr);
        return;
    }
    int sessionCount = 0;
    sessions->GetCount(&sessionCount);
    LogLine() << "[win-helper] Device " << deviceIndex << " sessionCount: " << sessionCount;
    for (int j = 0; j < sessionCount; ++j) {
        listSession(deviceIndex, j, sessions.get(), table, ownPid, names);
    }
}

// Everything that needs COM, so that it is all released before the apartment is left.
void listWithCom() {
    ComRef<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator.putVoid()))) {
        writeJsonListLine({});
        return;
    }
    ComRef<IMMDeviceCollection> devices;
    const HRESULT hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.put());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] EnumAudioEndpoints failed: 0x" << hex(hr);
        writeJsonListLine({});
        return;
    }
    UINT deviceCount = 0;
    devices->GetCount(&deviceCount);
    LogLine() << "[win-helper] Active playback devices found: " << deviceCount;

    const ProcessTable table = snapshotProcesses();
    const std::uint32_t ownPid = GetCurrentProcessId();
    SessionNames names;
    for (UINT i = 0; i < deviceCount; ++i) {
        listDevice(i, devices.get(), table, ownPid, names);
    }
    std::vector<std::string> records;
    for (const auto& [pid, name] : names) {
        records.push_back(sessionRecord(pid, name));
    }
    writeJsonListLine(records);
}

}  // namespace

void listAudioSessions() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        writeJsonListLine({});
        return;
    }
    listWithCom();
    CoUninitialize();
}
