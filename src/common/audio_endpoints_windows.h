#pragma once

#include <windows.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <string>

#include "common/com_ref_windows.h"

// The one way to the playback devices and their audio sessions. Each opening step reports
// where it stopped and the platform's answer there, so that each caller writes its own lines
// (or none) about it.

enum class EndpointStep {
    None,                    // every step succeeded
    CreateEnumerator,        // CoCreateInstance(MMDeviceEnumerator)
    DefaultEndpoint,         // IMMDeviceEnumerator::GetDefaultAudioEndpoint
    ActivateSessionManager,  // IMMDevice::Activate(IAudioSessionManager2)
    SessionEnumerator,       // IAudioSessionManager2::GetSessionEnumerator
};

struct StepResult {
    EndpointStep failedStep = EndpointStep::None;
    HRESULT hr = S_OK;

    bool ok() const { return failedStep == EndpointStep::None; }
};

HRESULT createDeviceEnumerator(ComRef<IMMDeviceEnumerator>& enumerator);

// The default playback device for the console role, with the enumerator that found it.
// Released in reverse order: device, then enumerator.
struct DefaultRenderEndpoint {
    ComRef<IMMDeviceEnumerator> enumerator;
    ComRef<IMMDevice> device;

    // Asks `existing` when given (a caller that opens the device again and again keeps one:
    // CoCreateInstance reads the class's registration each time), else a new enumerator.
    StepResult open(IMMDeviceEnumerator* existing = nullptr);
};

// The audio sessions of one device. Released in reverse order: sessions, then manager.
class DeviceSessions {
public:
    StepResult open(IMMDevice* device);

    // GetCount's answer; a failed call counts as no session.
    int count() const;
    HRESULT session(int index, ComRef<IAudioSessionControl>& control) const;

    // Calls visit(control) for every session that GetSession hands out, in index order.
    template <class Visit>
    void forEachSession(Visit&& visit) const {
        const int sessions = count();
        for (int i = 0; i < sessions; ++i) {
            ComRef<IAudioSessionControl> control;
            if (SUCCEEDED(session(i, control)) && control) {
                visit(control.get());
            }
        }
    }

private:
    ComRef<IAudioSessionManager2> manager_;
    ComRef<IAudioSessionEnumerator> sessions_;
};

// The sessions of the default playback device: the walk of WindowsSessionVolumes (the ducking
// engine's seam). Released sessions first, the enumerator last.
class DefaultDeviceSessions {
public:
    // `enumerator`: as DefaultRenderEndpoint::open takes it.
    StepResult open(IMMDeviceEnumerator* enumerator = nullptr);

    template <class Visit>
    void forEachSession(Visit&& visit) const {
        sessions_.forEachSession(visit);
    }

private:
    DefaultRenderEndpoint endpoint_;
    DeviceSessions sessions_;
};

// The session's identifier, copied; empty when the call fails or yields no string.
std::wstring sessionIdentifier(IAudioSessionControl2* control);
