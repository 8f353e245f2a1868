#!/bin/sh
# Installs what building and testing need on Debian 12 or 13, when something is missing, and any further
# Debian packages named as arguments (a benchmark's own tools):
#   scripts/setup.sh [package...]
set -eu
packages="$* cmake ninja-build g++ googletest libgtest-dev nlohmann-json3-dev clang libclang-rt-dev libbenchmark-dev libsamplerate0-dev libspeexdsp-dev libsoxr-dev pkg-config pulseaudio pulseaudio-utils libpulse-dev pipewire pipewire-bin pipewire-pulse wireplumber dbus libx11-dev openbox x11-utils g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth sox"
# Node.js and npm for the host client: Debian's packages, only when the commands are missing (a
# machine may carry a Node.js package that bundles npm and conflicts with Debian's npm).
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    packages="$packages nodejs npm"
fi
missing=""
for package in $packages; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends $missing
fi
