#!/bin/sh
# Installs what building and testing need on Debian 12, when something is missing.
set -eu
packages="cmake ninja-build g++ googletest nlohmann-json3-dev clang-14 libclang-rt-14-dev libbenchmark-dev libsamplerate0-dev libspeexdsp-dev pkg-config g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth sox"
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
