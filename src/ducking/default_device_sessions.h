#pragma once

#include <windows.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <string>

#include "app/com_ref.h"

// The audio sessions of the default playback device (console role). The members are released
// in reverse order of acquisition: sessions, manager, device, enumerator.
class DefaultDeviceSessions {
public:
    // Creates the enumerator, finds the default endpoint, activates its session manager and
    // enumerates its sessions. False, quietly, when any of them fails.
    bool open();
    // GetCount's answer; 0 when it fails.
    int count() const;
    ComRef<IAudioSessionControl> session(int index) const;

private:
    ComRef<IMMDeviceEnumerator> enumerator_;
    ComRef<IMMDevice> device_;
    ComRef<IAudioSessionManager2> manager_;
    ComRef<IAudioSessionEnumerator> sessions_;
};

// The session's identifier, copied; empty when the call fails or yields no string.
std::wstring sessionIdentifier(IAudioSessionControl2* control);
