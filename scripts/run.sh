#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Zuzire and starts it. Its configuration is kept in a
# scratch folder (.demo/config) so the user's own settings are never touched; pass
# --own-config to use them instead. Further arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# Only what runs here: the program, the library tool and the demo generator (the tests and
# benchmarks are scripts/test.sh's business). A first build takes a few minutes.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target zuzire zuzire-library zuzire-demo-photos

demo=$PWD/.demo
if [ "${1:-}" = "--own-config" ]; then
    shift
else
    mkdir -p "$demo/config"
    export XDG_CONFIG_HOME=$demo/config
    # The demo library is built once; delete .demo to start over.
    if [ ! -f "$demo/Library/AlbumData.xml" ]; then
        build/bin/zuzire-demo-photos "$demo/Photos"
        build/bin/zuzire-library import --library "$demo/Library" \
            "$demo/Photos/Coast" "$demo/Photos/Garden" "$demo/Photos/Mountains" "$demo/Photos/Camera"
        # A photo whose file went missing after import, and a few rated already: the Mountains
        # album is then fully rated and is not offered.
        rm -f "$demo/Photos/Garden/05 Lost photo.jpg"
        for name in "Garden/04 Bench.jpg" "Mountains/01 Peak.jpg" "Mountains/02 Ridge.jpg"; do
            # Columns: album, identifier, rating, kind, path.
            id=$(build/bin/zuzire-library list --photos --tsv |
                awk -F '\t' -v path="$(realpath "$demo/Photos")/$name" '$5 == path { print $2; exit }')
            build/bin/zuzire-library rate "$id" 3
        done
    fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MESSAGE
This machine has no display to show Zuzire's window on, so here is a short tour instead: the
program runs on a virtual display, goes through its screens and keeps a screenshot of each.
To run it yourself on a virtual display:
    XDG_CONFIG_HOME=$demo/config xvfb-run -a -s "-screen 0 1280x800x24" build/bin/zuzire --automation
MESSAGE
    exec scripts/tour.sh "$demo/tour"
fi

exec build/bin/zuzire "$@"
