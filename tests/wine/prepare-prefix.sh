#!/bin/sh
# Keeps one wineserver alive between runs and creates the private Wine prefix once: no audio
# driver, and the audio engine double (the given file) installed as System32's Mmdevapi.dll,
# which also serves the MMDeviceEnumerator class, so that a process holds one copy of it.
set -eu
double=$1
mkdir -p "$(dirname "$WINEPREFIX")"

# No audio driver, the double as the device enumerator class, no debugger on a crash.
create_prefix() {
    clsid='HKLM\Software\Classes\CLSID\{BCDE0395-E52F-467C-8E3D-C4579291692E}\InprocServer32'
    wineboot -i 9>&- </dev/null >/dev/null 2>&1 &&
        wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f 9>&- >/dev/null 2>&1 &&
        wine reg add "$clsid" /ve /d 'C:\windows\system32\mmdevapi.dll' /f 9>&- >/dev/null 2>&1 &&
        wine reg add "$clsid" /v ThreadingModel /d Both /f 9>&- >/dev/null 2>&1 &&
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
            9>&- >/dev/null 2>&1 &&
        touch "$WINEPREFIX/.quillmere-ready"
}
(
    flock 9
    # The server must not inherit the lock. A fresh server also gets Wine's own services started
    # here, detached from the caller's output: otherwise they would hold a test runner's pipes
    # open until the server ends.
    if wineserver -p60 9>&- >/dev/null 2>&1 && [ -f "$WINEPREFIX/.quillmere-ready" ]; then
        wine cmd /c exit 9>&- </dev/null >/dev/null 2>&1
    fi
    if [ ! -f "$WINEPREFIX/.quillmere-ready" ]; then
        # A first set-up of a prefix has been seen to fail once in a while: a half-made prefix
        # is removed and made again, once.
        if ! create_prefix; then
            echo "prepare-prefix: setting up $WINEPREFIX failed; once more" >&2
            wineserver -k 9>&- 2>/dev/null || true
            rm -rf "$WINEPREFIX"
            create_prefix
        fi
    fi
    "$(dirname "$0")/install-double.sh" "$double" "$WINEPREFIX"
) 9>"$WINEPREFIX.lock"
