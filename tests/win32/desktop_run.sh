#!/usr/bin/env bash
# kivphoto-desktop.exe under Wine on a private X display, as a user meets it.
#
#   desktop_run.sh damaged EXE
#       a property file with IMAGEWIDTH = "wide": the status line names it, the
#       control is never shown, Escape closes, exit status 2
#   desktop_run.sh express EXE SERVERS_STATE_FILE [SCREENSHOT]
#       KIVType EXPRESSPHOTOS on a folder of photos: every photo is sent, the
#       control's CloseApp closes the window, exit status 0
set -euo pipefail
mode=$1
exe=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-win32-desktop.XXXXXX")
trap 'rm -rf "$work"' EXIT
winpath() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*"; echo "--- stderr"; cat "$work/err" 2>/dev/null || true; exit 1; }

case $mode in
  damaged)
    printf 'IMAGEWIDTH = "wide"\n' >"$work/bad.properties"
    mkdir "$work/dock"
    vips black "$work/dock/IMG_0001.JPG" 80 60 --bands 3
    cat >"$work/session" <<SESSION
"$root/scripts/wine-run" "$exe" --properties "$(winpath "$work/bad.properties")" "$(winpath "$work/dock")" 2>"$work/err" &
pid=\$!
id=
for _ in \$(seq 1 120); do
  id=\$(xdotool search --name '^kivPhotoUpload' 2>/dev/null | head -1 || true)
  [ -n "\$id" ] && break
  sleep 0.5
done
sleep 1
xwininfo -root -tree >"$work/tree" 2>/dev/null || true
[ -n "\$id" ] && xdotool windowfocus --sync "\$id" key Escape || true
status=0
wait \$pid || status=\$?
echo \$status >"$work/status"
SESSION
    timeout 240 xvfb-run -a bash "$work/session" || true
    status=$(cat "$work/status" 2>/dev/null || echo none)
    [ "$status" = 2 ] || fail "exit status $status, expected 2"
    grep -q 'line 1: IMAGEWIDTH' "$work/err" || fail "the damaged setting was not named"
    ! grep -qi 'activated\|IOleObject' "$work/err" || fail "the control was started"
    echo "a damaged property file: named, nothing shown, exit status 2"
    ;;
  express)
    state=$3
    shot=${4:-}
    python=/usr/bin/python3
    server() { "$python" -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$state" "$1"; }
    get() { "$python" -c 'import sys,urllib.request; urllib.request.urlopen(sys.argv[1], timeout=10).read()' "$1"; }
    web="http://127.0.0.1:$(server http_port)"
    trap 'get "$web/_test/reset" || true; rm -rf "$work"' EXIT
    get "$web/_test/reset"
    # Slow enough for the screenshot to find the window while it sends.
    get "$web/_test/configure?delay=0.5"
    mkdir "$work/dock"
    for i in 1 2 3; do vips black "$work/dock/IMG_000$i.JPG" 800 600 --bands 3; done
    cat >"$work/session" <<SESSION
KIV_FTP_PASSWORD=$(server password) "$root/scripts/wine-run" "$exe" --properties "$(winpath "$work/none.properties")" \
  --vehicle 1395348 --company 12 --web "$web" --ftp "127.0.0.1:$(server ftp_port)" --ftp-user "$(server user)" \
  --width 400 --height 300 --set KIVType=EXPRESSPHOTOS "$(winpath "$work/dock")" 2>"$work/err" &
pid=\$!
if [ -n "$shot" ]; then
  for _ in \$(seq 1 120); do
    xdotool search --name '^kivPhotoUpload - vehicle' >/dev/null 2>&1 && break
    sleep 0.25
  done
  sleep 1.5
  import -window root "$shot" 2>/dev/null || true
fi
status=0
wait \$pid || status=\$?
echo \$status >"$work/status"
SESSION
    timeout 280 xvfb-run -a bash "$work/session" || true
    status=$(cat "$work/status" 2>/dev/null || echo none)
    [ "$status" = 0 ] || fail "exit status $status, expected 0"
    sent=$(find "$(server ftp_root)/12" -type f 2>/dev/null | wc -l)
    [ "$sent" = 3 ] || fail "$sent photos arrived, expected 3"
    left=$(find "$work/dock" -type f | wc -l)
    [ "$left" = 0 ] || fail "$left photos left in the folder, expected 0"
    echo "express photos: 3 sent, the window closed on CloseApp, exit status 0"
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
