#!/usr/bin/env bash
# The Windows installer under Wine: a silent install for the current user, the
# programs it installed (the command found through the PATH, the window started
# and closed), a silent uninstall, and nothing it installed left behind: files,
# Start-menu entry, installed-programs entry, PATH entry. Then once more with
# /NOPATH, which leaves the PATH alone.
#   installer_test.sh INSTALLER VERSION [OPENED]
# Runs in the Wine prefix of $WINEPREFIX, on the X display of $DISPLAY. OPENED is
# the file the browser stub writes the addresses it was given to; when given, the
# home page the window opens on closing must be the installed one.
set -euo pipefail
installer=$1
version=$2
opened=${3:-}
fail() { echo "FAIL installer: $*" >&2; exit 1; }
win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\sharelink'
path_value() { win reg query 'HKCU\Environment' /v Path | sed -n 's/^ *Path *REG_[A-Z_]* *//p'; }
files() { find "$WINEPREFIX/drive_c" -path '*/Temp' -prune -o -print | sort; }

folder_win=$(win cmd /c echo '%LOCALAPPDATA%')\\Programs\\sharelink
folder=$(winepath -u "$folder_win" 2>/dev/null)
start_menu=$(winepath -u "$(win cmd /c echo '%APPDATA%')\\Microsoft\\Windows\\Start Menu\\Programs" 2>/dev/null)

# Entries of the user's own around ours must survive both ways.
win reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d 'C:\tools;D:\other' /f >/dev/null
path_before=$(path_value)
before=$(mktemp)
trap 'rm -f "$before"' EXIT
files >"$before"

# Waits up to 10 s for a condition, checking every 0.1 s.
wait_for() { for _ in $(seq 100); do if eval "$1"; then return 0; fi; sleep 0.1; done; return 1; }

wine "$installer" /S </dev/null
for f in sharelink.exe sharelink-gui.exe home.html README.md LICENSE uninstall.exe; do
  [ -f "$folder/$f" ] || fail "$f is not in $folder_win"
done
[ -f "$start_menu/sharelink.lnk" ] || fail "no Start-menu entry"
entry=$(win reg query "$uninstall_key")
for value in "DisplayName *REG_SZ *sharelink\$" "DisplayVersion *REG_SZ *$version\$" \
             "Publisher *REG_SZ *the sharelink developers\$" "UninstallString .*uninstall.exe\"\$"; do
  grep -q "^ *$value" <<<"$entry" || fail "the installed-programs entry lacks $value: $entry"
done
[ "$(path_value)" = "$path_before;$folder_win" ] || fail "PATH after installing: $(path_value)"
echo "ok   installed into $folder_win, on the PATH, with a Start-menu entry and an installed-programs entry"

# The command through the PATH, as a new console finds it.
[ "$(win cmd /c sharelink --version)" = "sharelink $version" ] || fail "sharelink is not found on the PATH"
[ "$(win "$folder/sharelink-gui.exe" --version)" = "sharelink-gui $version" ] || fail "sharelink-gui --version"
# The window, started and closed as a user would.
rm -f "$opened"
wine "$folder/sharelink-gui.exe" </dev/null >/dev/null 2>&1 &
window_pid=$!
wait_for "xdotool search --name '下载地址解析例程' >/dev/null 2>&1" || fail "the installed window did not open"
win taskkill /im sharelink-gui.exe >/dev/null
wait_for "! kill -0 $window_pid 2>/dev/null" || fail "the installed window did not close"
if [ -n "$opened" ]; then
  wait_for "grep -q 'Programs/sharelink/home.html' '$opened' 2>/dev/null" ||
    fail "closing the window did not open the installed home page: $(cat "$opened" 2>/dev/null)"
fi
echo "ok   the installed command and window run"

uninstall() {
  wine "$folder/uninstall.exe" /S </dev/null
  # The uninstaller runs on from a copy of itself; wait for it to finish.
  wait_for "[ ! -e '$folder/uninstall.exe' ] && ! win reg query '$uninstall_key' >/dev/null 2>&1" ||
    fail "the uninstaller did not finish"
}
uninstall
[ ! -e "$folder" ] || fail "$folder_win is left: $(ls "$folder")"
[ "$(path_value)" = "$path_before" ] || fail "PATH after uninstalling: $(path_value)"
left=$(diff "$before" <(files) | grep '^>' || true)
[ -z "$left" ] || fail "left after uninstalling: $left"
echo "ok   uninstalled: no file, Start-menu entry, installed-programs entry or PATH entry left"

wine "$installer" /S /NOPATH </dev/null
[ -f "$folder/sharelink.exe" ] || fail "/NOPATH installed nothing"
[ "$(path_value)" = "$path_before" ] || fail "/NOPATH changed the PATH: $(path_value)"
# A file of the user's in the folder is not the uninstaller's to remove.
echo mine >"$folder/notes.txt"
uninstall
[ "$(ls "$folder")" = notes.txt ] || fail "uninstalling removed the user's file, or left more: $(ls "$folder")"
rm -r "$folder"
[ "$(path_value)" = "$path_before" ] || fail "the /NOPATH install changed the PATH"
echo "ok   /NOPATH leaves the PATH alone; a file of the user's in the folder stays"
