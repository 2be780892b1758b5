#!/usr/bin/env bash
# Ctrl-C reaching kivphoto.exe under Wine, which hands a SIGINT to the program
# as the console's Ctrl-C event: the photo in flight is finished, the rest stay.
#
#   wine_interrupt.sh KIVPHOTO_EXE SERVERS_STATE_FILE
set -euo pipefail
exe=$1
state=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
python=/usr/bin/python3
server() { "$python" -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$state" "$1"; }
get() { "$python" -c 'import sys,urllib.request; urllib.request.urlopen(sys.argv[1], timeout=10).read()' "$1"; }
fail() { echo "FAIL: $*"; echo "--- stderr"; cat "$work/err"; echo "--- stdout"; cat "$work/out"; exit 1; }

web="http://127.0.0.1:$(server http_port)"
work=$(mktemp -d "${TMPDIR:-/tmp}/kiv-wine-interrupt.XXXXXX")
trap 'get "$web/_test/reset" || true; rm -rf "$work"' EXIT
get "$web/_test/reset"
get "$web/_test/configure?delay=1"
mkdir "$work/dock"
for i in 1 2 3 4; do vips black "$work/dock/IMG_000$i.JPG" 800 600 --bands 3; done

KIV_FTP_PASSWORD=$(server password) "$root/scripts/wine-run" "$exe" --folder "Z:${work//\//\\}\\dock" \
  --vehicle 1395348 --company 12 --web "$web" --ftp "127.0.0.1:$(server ftp_port)" --ftp-user "$(server user)" \
  --width 400 --height 300 upload-all >"$work/out" 2>"$work/err" &
pid=$!
# The control is shown, the handler is in place and the first photo's number
# is being asked for (each exchange is held a second).
for _ in $(seq 1 300); do
  grep -q "photos found" "$work/out" 2>/dev/null && break
  sleep 0.1
done
grep -q "photos found" "$work/out" || { kill -KILL $pid || true; fail "the upload did not start"; }
sleep 0.3
kill -INT $pid
status=0
wait $pid || status=$?

[ "$status" = 1 ] || fail "exit status $status, expected 1"
grep -q "stopping after the photo being sent" "$work/err" || fail "no note on the first Ctrl-C"
grep -q "the upload was stopped on request" "$work/err" || fail "the stop was not reported"
grep -q "3 of 4 photos were not sent" "$work/err" || fail "the photos left were not named"
sent=$(find "$(server ftp_root)/12" -type f 2>/dev/null | wc -l)
[ "$sent" = 1 ] || fail "$sent photos arrived, expected 1"
left=$(find "$work/dock" -type f | wc -l)
[ "$left" = 3 ] || fail "$left photos left in the folder, expected 3"
echo "kivphoto.exe stopped after the photo in flight (exit status 1, 1 sent, 3 kept)"
