#!/usr/bin/env bash
# Starts the window program under Xvfb with openbox, finds the window by its title,
# checks its size, closes it with Escape, and checks the exit status and that the
# home page went to the desktop's opener.
#   window_smoke_test.sh <sharelink-gui> <actions.h>
# Exits 77 (skipped) when the X tools are not installed.
set -euo pipefail
gui=$1
home=$(sed -n 's/.*home_page_address = "\(.*\)";.*/\1/p' "$2")
for tool in xvfb-run openbox xdotool xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed; skipped." >&2
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$*" >>"$tmp/opened"
STUB
chmod +x "$tmp/xdg-open"

cat >"$tmp/session" <<'SESSION'
set -u
fail() { echo "smoke: $*" >&2; kill "$app" 2>/dev/null; kill "$wm" 2>/dev/null; exit 1; }
openbox --sm-disable >/dev/null 2>&1 & wm=$!
app=
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
"$GUI" & app=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnel ' | head -n 1) || true
[ -n "$wid" ] || fail "no window titled Varnel ..."
xprop -id "$wid" _NET_WM_NAME | grep -q '迅雷快传-百度网盘-下载地址解析例程' || fail "title"
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" = 374 ] && [ "$HEIGHT" = 283 ] || fail "client area is ${WIDTH}x${HEIGHT}"
hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
grep -q 'minimum size: 374 by 283' <<<"$hints" || fail "not fixed: $hints"
grep -q 'maximum size: 374 by 283' <<<"$hints" || fail "not fixed: $hints"
xdotool windowactivate --sync "$wid"
xdotool key --clearmodifiers Escape
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "Escape did not close the window"
status=0
wait "$app" || status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
[ "$status" = 0 ] || fail "exit status $status"
SESSION

# The X server below, whatever display or platform the caller has.
PATH="$tmp:$PATH" GUI="$gui" timeout 100 env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-noreset -screen 0 1024x768x24" bash "$tmp/session"

for _ in $(seq 100); do [ -s "$tmp/opened" ] && break; sleep 0.1; done
opened=$(cat "$tmp/opened" 2>/dev/null || true)
if [ "$opened" != "$home" ]; then
  echo "smoke: the opener got '$opened', expected '$home'" >&2
  exit 1
fi
echo "smoke: window found, 374x283, closed by Escape with status 0, opened $home"
