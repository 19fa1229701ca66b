#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Zuzire and starts it. Its configuration is kept in a
# scratch folder (.demo/config) so the user's own settings are never touched; pass
# --own-config to use them instead. Further arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

demo=$PWD/.demo
if [ "${1:-}" = "--own-config" ]; then
    shift
else
    mkdir -p "$demo/config"
    export XDG_CONFIG_HOME=$demo/config
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MESSAGE
Zuzire is built, but this machine has no display to show its window on.
Run it on a virtual display instead:
    xvfb-run -a -s "-screen 0 1280x800x24" build/bin/zuzire
or drive it without any window at all:
    QT_QPA_PLATFORM=offscreen build/bin/zuzire --automation
MESSAGE
    exit 1
fi

exec build/bin/zuzire "$@"
