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
    // Calls visit(control) for every session that GetSession hands out, in index order
    // (GetCount's failure counts as no session).
    template <class Visit>
    void forEachSession(Visit&& visit) const {
        const int count = sessionCount();
        for (int i = 0; i < count; ++i) {
            const ComRef<IAudioSessionControl> control = session(i);
            if (control) {
                visit(control.get());
            }
        }
    }

private:
    int sessionCount() const;
    ComRef<IAudioSessionControl> session(int index) const;

    ComRef<IMMDeviceEnumerator> enumerator_;
    ComRef<IMMDevice> device_;
    ComRef<IAudioSessionManager2> manager_;
    ComRef<IAudioSessionEnumerator> sessions_;
};

// The session's identifier, copied; empty when the call fails or yields no string.
std::wstring sessionIdentifier(IAudioSessionControl2* control);
