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
press Menu
wait 0.5
screenshot $out/04-album-break-menu.png
press Menu
wait 0.5
press Select
wait 0.3
screenshot $out/05-title-card.png
wait 1.2
press Up
press Down
wait 1.5
tree
screenshot $out/06-pass-promoted-and-rated-down.png
press Menu
wait 0.5
screenshot $out/07-pass-break-menu.png
press Down
press Select
wait 1.5
tree
screenshot $out/08-confirmation.png
press Select
wait 0.3
screenshot $out/09-next-title-card.png
press Menu
wait 1.8
tree
screenshot $out/10-albums-refreshed.png
fullscreen
wait 0.5
screenshot $out/11-albums-full-screen.png
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
