#!/usr/bin/env bash
# Usage: leftover-processes.sh [--kill] MARK
# Lists the processes still running that carry ZUZIRE_TEST_RUN=MARK in their environment: CTest
# gives it to every test, and every process a test starts inherits it, daemons included. Waits up
# to ten seconds for them to end by themselves; with --kill, ends those left, so a failed run
# leaves nothing behind either. Exit status 1 when any was left.
set -u
kill=no
if [ "${1-}" = --kill ]; then
    kill=yes
    shift
fi
mark="ZUZIRE_TEST_RUN=${1:?usage: leftover-processes.sh [--kill] MARK}"

# Only shell built-ins below: a process started here would carry the mark too.
left=()
find_left() {
    left=()
    local dir pid vars var
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [ "$pid" = "$$" ] && continue
        mapfile -d '' -t vars 2>/dev/null <"$dir/environ" || continue
        for var in "${vars[@]}"; do
            if [ "$var" = "$mark" ]; then
                left+=("$pid")
                break
            fi
        done
    done
}

for ((try = 0; try < 50; ++try)); do
    find_left
    [ ${#left[@]} -eq 0 ] && exit 0
    sleep 0.2
done
for pid in "${left[@]}"; do
    command=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)
    echo "left running: $pid $command"
    [ $kill = yes ] && kill "$pid" 2>/dev/null
done
exit 1
