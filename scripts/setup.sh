#!/usr/bin/env bash
# Installs the build, test and run dependencies on Debian 12 (as root). Quick when all is there.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    googletest libgtest-dev libgmock-dev
    g++-mingw-w64-x86-64
    wine64
    # Wine 8 only recommends OSMesa, and without it a bitmap gets no OpenGL pixel format.
    libosmesa6
    xvfb xserver-xorg-core xserver-xorg-video-dummy
    libx11-dev libxext-dev libxfixes-dev libxtst-dev
    libegl-dev libegl-mesa0 libgl1-mesa-dri libsdl2-dev
    libwayland-dev wayland-protocols libxkbcommon-dev
    # tovix-idle: sd-bus for GNOME's idle monitor, KDE's idle protocol for sway's; systemd checks its unit.
    libsystemd-dev plasma-wayland-protocols systemd
    imagemagick xdotool x11-utils x11-xserver-utils
    procps gnuplot-nox strace python3 clang libclang-rt-14-dev libbenchmark-dev
    # Packages, and the screen-saver daemons that run the programs.
    dpkg-dev lintian icoutils unzip xscreensaver xsecurelock
    # Wayland compositors for the tests, headless, and their capture and input tools; GNOME's and KDE's with a
    # session bus of their own, reached through sd-bus and gdbus, and KWin's fake-input protocol.
    sway xwayland grim
    mutter gnome-shell kwin-wayland dbus-daemon libsystemd-dev libglib2.0-bin plasma-wayland-protocols
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ "$status" == installed ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "setup.sh: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
fi

echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
