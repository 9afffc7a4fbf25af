#!/usr/bin/env bash
# Takes screenshots of the real Kelvara window under Xvfb: the scan dialog filled in, the main
# window with the scanned table open, and the language selection dialog.
#
#   scripts/screenshots.sh [EXECUTABLE_TO_SCAN] [OUTPUT_DIR]
#
# The executable defaults to a Delphi program of the shared corpus; the pictures go to
# build/screenshots/ unless another folder is named. The program must have been built
# (build/src/app/kelvara, or the path in KELVARA_EXE).
set -u -o pipefail
source "$(dirname "$0")/common.sh"
cd "$KELVARA_ROOT"

# shellcheck disable=SC2086
kelvara_ensure_packages xvfb xauth x11-apps x11-utils imagemagick xdotool openbox fonts-liberation \
    fonts-wqy-microhei || exit 1

SOURCE=${1:-$KELVARA_ROOT/../shared/corpus/exe/CheckCPU_Win32.exe}
OUT=${2:-$KELVARA_ROOT/build/screenshots}
EXE=${KELVARA_EXE:-$KELVARA_ROOT/build/src/app/kelvara}
[ -x "$EXE" ] || { echo "no program at $EXE: build it first (scripts/run builds it)"; exit 1; }
[ -f "$SOURCE" ] || { echo "no executable to scan at $SOURCE"; exit 1; }
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
TABLE=$OUT/scanned.db
rm -f "$TABLE" "${TABLE%.db}".*

if [ "${KELVARA_IN_XVFB:-}" != 1 ]; then
    export KELVARA_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$SOURCE" "$OUT"
fi

# shot NAME [WINDOW]: the whole screen; a dialog window is laid over it from its own picture,
# because a capture of the root window leaves windows of another visual black.
shot() {
    xwd -root -silent | convert xwd:- "$OUT/$1.png" || return 1
    if [ -n "${2:-}" ]; then
        local X Y
        X=$(xwininfo -id "$2" | sed -n 's/.*Absolute upper-left X: *//p')
        Y=$(xwininfo -id "$2" | sed -n 's/.*Absolute upper-left Y: *//p')
        xwd -id "$2" -silent | convert xwd:- "$OUT/.window.png" &&
            convert "$OUT/$1.png" "$OUT/.window.png" -geometry "+$X+$Y" -composite "$OUT/$1.png"
        rm -f "$OUT/.window.png"
    fi
    echo "$OUT/$1.png"
}
wait_for() { # wait_for TITLE: the window id of a window with that title, within 10 s
    local id="" i
    for i in $(seq 1 50); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "window '$1' did not appear" >&2
    return 1
}

openbox >/dev/null 2>&1 &
WM=$!
sleep 1
"$EXE" -KXDW31EDIT &
APP=$!
trap 'kill $APP $WM 2>/dev/null' EXIT

main=$(wait_for "Pelora Kelvara") || exit 1
sleep 1
xdotool windowactivate --sync "$main" key ctrl+n
scan=$(wait_for "String Scanner") || exit 1
xdotool windowactivate --sync "$scan"
xdotool type --delay 5 "$SOURCE"
xdotool key Tab Tab
xdotool type --delay 5 "$TABLE"
xdotool key Tab Tab
xdotool type --delay 5 "48.1"
sleep 0.5
shot scan-dialog "$scan"
xdotool key Return
sleep 3
main=$(wait_for "Pelora Kelvara - ") || exit 1
xdotool windowactivate --sync "$main"
sleep 1
# Two translations typed into the language column: one with a line-break code, one in Hebrew,
# then saved.
xdotool key Down Down
xdotool type --delay 5 "CPU instruction sets#13#10(all of them)"
xdotool key Down
xdotool type --delay 5 "מעבד MMX"
xdotool key Down
xdotool key ctrl+s
sleep 1
shot main-window
xdotool key ctrl+l
language=$(wait_for "Select a Language to edit") || exit 1
xdotool windowactivate --sync "$language"
xdotool type --delay 20 "Germ"
sleep 0.5
shot language-dialog "$language"
xdotool key Escape
sleep 0.5
