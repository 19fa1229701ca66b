#!/usr/bin/env bash
# Measures the time from a press to its sound at the sound output, against a private PulseAudio
# server with a null output, so no sound card is needed and no one's own sound server is used.
# PulseAudio is needed for this measurement only: apt-get install pulseaudio pulseaudio-utils.
# Usage: bench/audio/sound-latency.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
runtime=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime HOME=$runtime PULSE_RUNTIME_PATH=$runtime/pulse
chmod 700 "$runtime"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=file:"$runtime/server.log" \
    -L "module-null-sink sink_name=zuzire_null rate=48000" \
    -L "module-remap-source master=zuzire_null.monitor source_name=zuzire_null_monitor" \
    -L module-native-protocol-unix 2>/dev/null &
server=$!
for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
"$build/bench/SoundLatencyBench" "${@:2}"
