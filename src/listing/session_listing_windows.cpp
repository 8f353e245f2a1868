#include "listing/session_listing.h"

#include <windows.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <map>
#include <vector>

#include "common/audio_endpoints_windows.h"
#include "common/com_ref_windows.h"
#include "common/log.h"
#include "common/process_identity.h"
#include "common/protocol_text.h"
#include "common/process_table.h"
#include "common/text.h"
#include "common/handles_windows.h"
#include "listing/json_line.h"
#include "listing/listing_rules.h"

namespace {

using SessionNames = std::map<std::uint32_t, std::wstring>;

void listSession(UINT deviceIndex, int sessionIndex, const DeviceSessions& sessions, const ProcessTable& table,
                 std::uint32_t ownPid, SessionNames& names) {
    ComRef<IAudioSessionControl> control;
    HRESULT hr = sessions.session(sessionIndex, control);
    if (FAILED(hr)) {
        LogLine() << listingGetSessionFailedLine(deviceIndex, sessionIndex, hr);
        return;
    }
    ComRef<IAudioSessionControl2> control2;
    hr = control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid());
    if (FAILED(hr)) {
        LogLine() << listingSessionQueryFailedLine(deviceIndex, sessionIndex, hr);
        return;
    }

    DWORD pid = 0;
    const bool pidKnown = SUCCEEDED(control2->GetProcessId(&pid));
    wchar_t* rawInstanceId = nullptr;
    const HRESULT instanceResult = control2->GetSessionInstanceIdentifier(&rawInstanceId);
    std::wstring instanceId = takeTaskMemString(rawInstanceId);
    if (FAILED(instanceResult)) {
        instanceId.clear();
    }
    const SessionNaming naming = nameSession(pid, pidKnown, instanceId, table, ownPid);
    LogLine() << listingSessionLine(deviceIndex, pid, wideToUtf8(naming.tableName), wideToUtf8(instanceId));
    if (naming.parsedName) {
        LogLine() << listingParsedNameLine(wideToUtf8(*naming.parsedName));
    }
    if (naming.resolvedPid) {
        LogLine() << listingResolvedPidLine(pid, *naming.resolvedPid, wideToUtf8(naming.name));
    }
    if (naming.record) {
        names[naming.record->pid] = naming.record->name;
    }
}

void listDevice(UINT deviceIndex, IMMDeviceCollection* devices, const ProcessTable& table, std::uint32_t ownPid,
                SessionNames& names) {
    ComRef<IMMDevice> device;
    const HRESULT hr = devices->Item(deviceIndex, device.put());
    if (FAILED(hr)) {
        LogLine() << listingItemFailedLine(deviceIndex, hr);
        return;
    }
    DeviceSessions sessions;
    const StepResult opened = sessions.open(device.get());
    if (opened.failedStep == EndpointStep::ActivateSessionManager) {
        LogLine() << listingSessionManagerFailedLine(deviceIndex, opened.hr);
        return;
    }
    if (!opened.ok()) {
        LogLine() << listingSessionEnumeratorFailedLine(deviceIndex, opened.hr);
        return;
    }
    const int sessionCount = sessions.count();
    LogLine() << listingSessionCountLine(deviceIndex, sessionCount);
    for (int j = 0; j < sessionCount; ++j) {
        listSession(deviceIndex, j, sessions, table, ownPid, names);
    }
}

// Everything that needs COM, so that it is all released before the apartment is left.
void listWithCom() {
    ComRef<IMMDeviceEnumerator> enumerator;
    if (FAILED(createDeviceEnumerator(enumerator))) {
        writeJsonListLine({});
        return;
    }
    ComRef<IMMDeviceCollection> devices;
    const HRESULT hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.put());
    if (FAILED(hr)) {
        LogLine() << listingEnumFailedLine(hr);
        writeJsonListLine({});
        return;
    }
    UINT deviceCount = 0;
    devices->GetCount(&deviceCount);
    LogLine() << kListingDeviceCountPrefix << deviceCount;

    const ProcessTable table = snapshotProcesses();
    const std::uint32_t ownPid = currentProcessId();
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
