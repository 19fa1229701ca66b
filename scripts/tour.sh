#!/usr/bin/env bash
# A short tour of Zuzire for a machine without a display: runs the built program on a virtual
# display, drives it through its screens with the automation commands and keeps a screenshot of
# each. Usage: scripts/tour.sh OUTPUT_FOLDER (XDG_CONFIG_HOME chooses the library, as for a run).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:?usage: scripts/tour.sh OUTPUT_FOLDER}")
mkdir -p "$out"

script=$(cat <<COMMANDS
screenshot $out/01-loading.png
wait 1.5
tree
screenshot $out/02-albums.png
press Down
wait 0.5
screenshot $out/03-album-chosen.png
press Select
wait 0.5
tree
screenshot $out/04-stage.png
press Select
wait 1.5
fullscreen
wait 0.5
screenshot $out/05-albums-full-screen.png
quit
COMMANDS
)

# A window manager gives the full-screen step its whole screen.
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    openbox >/dev/null 2>&1 &
    sleep 0.5
    build/bin/zuzire --automation <<< "$1"
' tour "$script"

echo "The tour's screenshots are in $out:"
ls -1 "$out"
