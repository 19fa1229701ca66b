#!/usr/bin/env bash
# Installs what building, running and testing Zuzire need on Debian 12, and nothing twice:
# packages already present are left alone and the package lists are refreshed only when
# something is missing.
set -euo pipefail

packages=(
    # toolchain and test frameworks
    g++ cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev
    # the platform
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins qt6-multimedia-dev
    libplist-dev libpugixml-dev libxxhash-dev libevdev-dev libudev-dev libturbojpeg0-dev libjpeg-dev libpng-dev
    # photo metadata: RAW files' embedded previews, ratings in XMP sidecars and photo files
    libexiv2-dev
    # an independent reader of the ratings written, for the tests
    libimage-exiftool-perl
    # a display, a window manager, real key events and a session bus for headless runs and tests
    xvfb xauth openbox xdotool dbus dbus-x11
    # a headless Wayland compositor and Qt's Wayland platform, for the Wayland session test
    weston qt6-wayland
    # fonts the screens use
    fonts-dejavu-core fonts-urw-base35 fonts-beteckna
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
