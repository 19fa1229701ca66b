#!/usr/bin/env bash
# Usage: with-headless-weston.sh COMMAND [ARGUMENT...]
# Runs COMMAND on a Wayland compositor of its own: weston's headless backend, on a socket in a
# private runtime folder, so neither the user's session nor a test running beside it is touched.
# The command finds it through WAYLAND_DISPLAY and XDG_RUNTIME_DIR, and the size of its one
# screen in ZUZIRE_SCREEN_SIZE (WIDTHxHEIGHT). Whatever happens, weston is stopped and the folder
# removed afterwards. Exit status: the command's, or 1 when weston did not come up.
set -u
width=1920
height=1080
socket=wayland-zuzire-test

runtime=$(mktemp -d) || exit 1
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
weston_pid=
command_pid=
stop() {
    [ -n "$command_pid" ] && kill "$command_pid" 2>/dev/null && wait "$command_pid"
    # weston ends the clients it started itself (its shell and keyboard) as it goes.
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid"
    rm -rf "$runtime"
}
trap stop EXIT
trap 'exit 143' TERM INT HUP

# No configuration file, so the user's own cannot change the screen; no idle time, so the screen
# never blanks under a slow test. Its output goes to files, never to the pipes of the test run,
# which a weston left running would otherwise hold open.
weston --backend=headless-backend.so --socket="$socket" --width="$width" --height="$height" \
    --no-config --idle-time=0 --log="$runtime/weston.log" >"$runtime/weston.out" 2>&1 </dev/null &
weston_pid=$!

# Bounded: weston that has not listened within thirty seconds is not coming.
for ((try = 0; try < 300; ++try)); do
    [ -S "$runtime/$socket" ] && break
    kill -0 "$weston_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
    echo "with-headless-weston.sh: weston did not start:" >&2
    cat "$runtime/weston.log" "$runtime/weston.out" >&2
    exit 1
fi

# In the background, so a signal to this script reaches the trap while the command runs.
WAYLAND_DISPLAY=$socket ZUZIRE_SCREEN_SIZE=${width}x$height "$@" &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=
exit $status
