#!/usr/bin/env bash
# The window program from outside.
# Without a display: one line on standard error and exit status 1.
# Under Xvfb with openbox: finds the window by its title, checks its size, closes
# it with Escape, and checks the exit status and that the home page shipped beside
# the program went to the desktop's opener. On the way, a page of two files makes
# the window taller by the list of files, Tab and Up go into it, and a page of one
# file gives the window its size back. Then starts it again, resolves a page
# that stalls for 10 s, presses Escape a second into the wait, and checks that the
# program ends within 5 s of the key (well before the page would come, with room
# for a loaded machine). A broken rule file in the user's folder is
# named on standard error, and the window opens all the same.
#   window_smoke_test.sh <sharelink-gui>
# Exits 77 (skipped) when the X tools are not installed.
set -euo pipefail
gui=$1
home=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).resolve().as_uri())' \
       "$(dirname "$gui")/home.html")

for display in "" ":987"; do
  status=0
  err=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$gui" 2>&1 >/dev/null) || status=$?
  if [ "$status" != 1 ] || [ "$(printf '%s\n' "$err" | wc -l)" != 1 ] ||
     ! grep -q '^sharelink-gui: cannot open a window: ' <<<"$err"; then
    echo "smoke: with DISPLAY='$display': status $status, said: $err" >&2
    exit 1
  fi
done
echo "smoke: without a display: exit status 1 and one line"

for tool in xvfb-run openbox xdotool xprop python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed; skipped." >&2
    exit 77
  fi
done

tmp=$(mktemp -d)
stall_pid=
trap 'rm -rf "$tmp"; [ -z "$stall_pid" ] || kill "$stall_pid" 2>/dev/null' EXIT
cat >"$tmp/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$*" >>"$tmp/opened"
STUB
chmod +x "$tmp/xdg-open"

# A page that answers nothing for 10 s after the request arrives; the share pages
# /d/SEVERALFILES (two files) and /d/ONEFILEPAGE1 at once.
python3 - "$tmp" "$(dirname "$0")/../resolve/testdata/kuaichuan_several.html" <<'PY' &
import socket, sys, time
tmp = sys.argv[1]
pages = {b"/d/SEVERALFILES": open(sys.argv[2], "rb").read(),
         b"/d/ONEFILEPAGE1": b'<a file_url="http://dl.example/one.zip" file_size="5" file_name="one.zip">x</a>'}
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
open(tmp + "/stall-port.tmp", "w").write(str(s.getsockname()[1]))
__import__("os").rename(tmp + "/stall-port.tmp", tmp + "/stall-port")
s.settimeout(100)
while True:
    try:
        c, _ = s.accept()
    except OSError:
        break
    request = c.recv(4096)
    path = request.split(b" ")[1] if request.count(b" ") >= 2 else b""
    if path in pages:
        c.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: %d\r\n\r\n"
                  % len(pages[path]) + pages[path])
        c.close()
        continue
    open(tmp + "/stall-requests", "a").write("request\n")
    time.sleep(10)
    c.close()
PY
stall_pid=$!
for _ in $(seq 100); do [ -s "$tmp/stall-port" ] && break; sleep 0.1; done
pages_url="http://127.0.0.1:$(cat "$tmp/stall-port")"
stall_url="$pages_url/d/STALLEDPAGE1"

cat >"$tmp/session" <<'SESSION'
set -u
fail() { echo "smoke: $*" >&2; kill "$app" 2>/dev/null; kill "$wm" 2>/dev/null; exit 1; }
openbox --sm-disable >/dev/null 2>&1 & wm=$!
app=
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
start_app() {
  "$GUI" 2>>"$TMP/stderr" & app=$!
  # Looked for again and again rather than with --sync: a window that goes away
  # while xdotool looks at it is an X error, which ends xdotool.
  wid=
  for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --name '^Varnel ' 2>/dev/null | head -n 1) || true
    [ -n "$wid" ] && break
    kill -0 "$app" 2>/dev/null || fail "the program ended before its window showed"
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no window titled Varnel ..."
  xdotool windowactivate --sync "$wid"
}
wait_exit() {  # $1: tenths of a second
  for _ in $(seq "$1"); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "$2"
  status=0
  wait "$app" || status=$?
  [ "$status" = 0 ] || fail "exit status $status"
}

start_app
xprop -id "$wid" _NET_WM_NAME | grep -q '迅雷快传-百度网盘-下载地址解析例程' || fail "title"
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" = 374 ] && [ "$HEIGHT" = 283 ] || fail "client area is ${WIDTH}x${HEIGHT}"
hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
grep -q 'minimum size: 374 by 283' <<<"$hints" || fail "not fixed: $hints"
grep -q 'maximum size: 374 by 283' <<<"$hints" || fail "not fixed: $hints"
# The frame's corner, not the inside's, stands at ((1024 - 380) / 2, (768 - 308) / 2).
read -r left _ top _ < <(xprop -id "$wid" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,/ /g')
inside=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} END {print x, y}')
[ "$inside" = "$((322 + left)) $((230 + top))" ] || fail "not centred: inside at $inside, frame $left/$top"
# From the address box: a page of two files, Tab to the button and Space.
client_height() { eval "$(xdotool getwindowgeometry --shell "$wid")"; echo "$HEIGHT"; }
wait_height() {
  for _ in $(seq 100); do [ "$(client_height)" = "$1" ] && return 0; sleep 0.1; done
  fail "$2: the window is $(client_height) high, not $1"
}
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 5 "$PAGES_URL/d/SEVERALFILES"
xdotool key --clearmodifiers Tab space
wait_height 456 "a page of two files"
xprop -id "$wid" WM_NORMAL_HINTS | grep -q 'maximum size: 374 by 456' || fail "not fixed with the list"
# Into the list and up to the first file; back to the address box; a page of one file.
xdotool key --clearmodifiers Tab Up shift+Tab shift+Tab ctrl+a
xdotool type --delay 5 "$PAGES_URL/d/ONEFILEPAGE1"
xdotool key --clearmodifiers Tab space
wait_height 283 "a page of one file"
xdotool key --clearmodifiers Escape
wait_exit 100 "Escape did not close the window"

# The address box has the focus: Ctrl+A, the stalling address, Tab to the button, Space.
start_app
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 5 "$STALL_URL"
xdotool key --clearmodifiers Tab space
for _ in $(seq 50); do [ -s "$TMP/stall-requests" ] && break; sleep 0.1; done
[ -s "$TMP/stall-requests" ] || fail "the stalling page was not asked for"
sleep 1
kill -0 "$app" 2>/dev/null || fail "ended while the page was loading"
xdotool key --clearmodifiers Escape
pressed=$(date +%s%N)
wait_exit 100 "Escape during a fetch did not end the program"
ended=$(date +%s%N)
echo $(( (ended - pressed) / 1000000 )) >"$TMP/escape-ms"
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
SESSION

mkdir -p "$tmp/config/sharelink/services"
printf 'name = \n' >"$tmp/config/sharelink/services/broken.toml"

# The X server below, whatever display or platform the caller has.
XDG_CONFIG_HOME="$tmp/config" PATH="$tmp:$PATH" GUI="$gui" TMP="$tmp" STALL_URL="$stall_url" PAGES_URL="$pages_url" timeout 100 \
  env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-noreset -screen 0 1024x768x24" bash "$tmp/session"

escape_ms=$(cat "$tmp/escape-ms")
if [ "$escape_ms" -gt 5000 ]; then
  echo "smoke: the program ended ${escape_ms} ms after Escape during a fetch (limit 5000 ms)" >&2
  exit 1
fi
for _ in $(seq 100); do [ "$(wc -l <"$tmp/opened" 2>/dev/null || echo 0)" -ge 2 ] && break; sleep 0.1; done
opened=$(cat "$tmp/opened" 2>/dev/null || true)
if [ "$opened" != "$home"$'\n'"$home" ]; then
  echo "smoke: the opener got '$opened', expected '$home' twice" >&2
  exit 1
fi
if ! grep -q "^sharelink-gui: $tmp/config/sharelink/services/broken.toml:1:" "$tmp/stderr"; then
  echo "smoke: the broken rule file was not named on standard error: $(cat "$tmp/stderr")" >&2
  exit 1
fi
echo "smoke: window found, 374x283, 374x456 listing two files, closed by Escape with status 0, opened $home"
echo "smoke: Escape during a stalled fetch ended the program in ${escape_ms} ms"
