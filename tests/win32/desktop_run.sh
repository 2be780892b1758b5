#!/usr/bin/env bash
# kivphoto-desktop.exe under Wine on a private X display, as a user meets it.
#
#   desktop_run.sh damaged EXE
#       a property file with IMAGEWIDTH = "wide": the status line names it, the
#       control is never shown, Escape closes, exit status 2
#   desktop_run.sh express EXE SERVERS_STATE_FILE [SCREENSHOT]
#       KIVType EXPRESSPHOTOS on a folder of photos: every photo is sent, the
#       control's CloseApp closes the window, exit status 0
#   desktop_run.sh refused EXE SERVERS_STATE_FILE
#       the same with a wrong FTP password: the control's message box is
#       dismissed, the photo stays in the folder, exit status 1
#   desktop_run.sh gallery EXE SERVERS_STATE_FILE [SCREENSHOT]
#       ten photos in the gallery (four rows, so a scroll bar), painted
#       before any input (the screenshot); Upload Selected with nothing
#       ticked sends nothing and the window stays; with the first photo
#       ticked it sends that one, exit status 0
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
  express|refused|gallery)
    state=$3
    shot=${4:-}
    python=/usr/bin/python3
    server() { "$python" -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$state" "$1"; }
    get() { "$python" -c 'import sys,urllib.request; urllib.request.urlopen(sys.argv[1], timeout=10).read()' "$1"; }
    web="http://127.0.0.1:$(server http_port)"
    trap 'get "$web/_test/reset" || true; rm -rf "$work"' EXIT
    get "$web/_test/reset"
    password=$(server password) count=3 type="--set KIVType=EXPRESSPHOTOS" expected=0 sent=3
    case $mode in
      refused) password=wrong count=1 expected=1 sent=0 ;;
      gallery) count=10 type= sent=1 ;;
    esac
    # Slow enough for the screenshot to find the window while it sends.
    [ "$mode" = express ] && get "$web/_test/configure?delay=0.5"
    mkdir "$work/dock"
    for i in $(seq 1 $count); do vips black "$work/dock/IMG_000$i.JPG" 800 600 --bands 3; done
    arrived() { find "$(server ftp_root)/12" -type f 2>/dev/null | wc -l; }
    # A click at a place in the window's client area: Upload Selected Photos
    # at (254, 472), the first photo's check box at (230, 191).
    click() { echo "xdotool mousemove --window \$id $1 $2 click 1; sleep 1.5"; }
    {
      cat <<SESSION
KIV_FTP_PASSWORD=$password "$root/scripts/wine-run" "$exe" --properties "$(winpath "$work/none.properties")" \
  --vehicle 1395348 --company 12 --web "$web" --ftp "127.0.0.1:$(server ftp_port)" --ftp-user "$(server user)" \
  --width 400 --height 300 $type "$(winpath "$work/dock")" 2>"$work/err" &
pid=\$!
id=
for _ in \$(seq 1 120); do
  id=\$(xdotool search --name '^kivPhotoUpload - vehicle' 2>/dev/null | head -1 || true)
  [ -n "\$id" ] && break
  sleep 0.25
done
SESSION
      if [ -n "$shot" ]; then
        # The express run takes a second or two; the gallery waits for no input.
        if [ "$mode" = express ]; then echo "sleep 0.5"; else echo "sleep 2"; fi
        echo "import -window root '$shot' 2>/dev/null || true"
        echo "xdotool getwindowgeometry --shell \$id >'$work/geometry' 2>/dev/null || true"
      fi
      case $mode in
        refused)
          cat <<SESSION
for _ in \$(seq 1 120); do
  box=\$(xdotool search --name '^TREMONA\$' 2>/dev/null | head -1 || true)
  [ -n "\$box" ] && break
  sleep 0.25
done
[ -n "\$box" ] && echo box >"$work/box" && xdotool windowfocus --sync "\$box" key Return || true
SESSION
          ;;
        gallery)
          click 254 472
          echo "[ \"\$(xdotool search --name '^kivPhotoUpload - vehicle' 2>/dev/null)\" = \"\$id\" ] && echo open >'$work/open'"
          echo "find '$(server ftp_root)/12' -type f 2>/dev/null | wc -l >'$work/early'"
          [ -n "$shot" ] && echo "import -window root '${shot%.png}_nothing_ticked.png' 2>/dev/null || true"
          click 230 191
          click 254 472
          ;;
      esac
      cat <<SESSION
status=0
wait \$pid || status=\$?
echo \$status >"$work/status"
SESSION
    } >"$work/session"
    timeout 280 xvfb-run -a bash "$work/session" || true
    status=$(cat "$work/status" 2>/dev/null || echo none)
    [ "$status" = "$expected" ] || fail "exit status $status, expected $expected"
    [ "$(arrived)" = "$sent" ] || fail "$(arrived) photos arrived, expected $sent"
    left=$(find "$work/dock" -type f | wc -l)
    [ "$left" = $((count - sent)) ] || fail "$left photos left in the folder, expected $((count - sent))"
    case $mode in
      express) echo "express photos: 3 sent, the window closed on CloseApp, exit status 0" ;;
      refused)
        [ -f "$work/box" ] || fail "no message box for the refused login"
        echo "a refused login: the control's message box, the photo kept, exit status 1" ;;
      gallery)
        if [ -n "$shot" ]; then
          # The light blue face of Upload Selected Photos, in the shot taken
          # before any input.
          eval "$(cat "$work/geometry")"
          at="p{$((X + 200)),$((Y + 472))}"
          [ "$(convert "$shot" -format "%[fx:$at.b - $at.r > 0.2]" info:)" = 1 ] ||
            fail "the commands were not painted before any input"
        fi
        [ -f "$work/open" ] || fail "Upload Selected with nothing ticked closed the window"
        [ "$(cat "$work/early")" = 0 ] || fail "Upload Selected with nothing ticked sent photos"
        echo "gallery: nothing ticked sends nothing and stays open; the ticked photo sent, exit status 0" ;;
    esac
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
