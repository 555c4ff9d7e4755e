#!/bin/sh
# The man pages render without a warning on a terminal and on paper, each names
# itself where whatis finds it, and the command's page names exactly the long
# options its --help lists (the page is written by hand; this keeps it in step).
#   man_pages_test.sh SHARELINK COMMAND-PAGE OTHER-PAGE...
set -eu
command -v groff >/dev/null && command -v lexgrog >/dev/null || { echo "groff or lexgrog missing"; exit 77; }
program=$1
shift
failed=0
for page in "$@"; do
  for device in ps utf8 ascii; do
    warnings=$(groff -k -T"$device" -man -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
      echo "FAIL $page warns on $device:"; echo "$warnings"; failed=1
    fi
  done
  lexgrog "$page" >/dev/null || { echo "FAIL lexgrog finds no name line in $page"; failed=1; }
done

options() { grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u; }
in_help=$("$program" --help | options)
in_page=$(sed 's/\\-/-/g' "$1" | options)
missing=$(printf '%s\n' "$in_help" | grep -vxF -e "$in_page" || true)
stale=$(printf '%s\n' "$in_page" | grep -vxF -e "$in_help" || true)
if [ -n "$missing" ]; then echo "FAIL $1 does not describe:" $missing; failed=1; fi
if [ -n "$stale" ]; then echo "FAIL $1 names options sharelink --help does not list:" $stale; failed=1; fi
# Every option has its own entry in OPTIONS, not only a mention.
for option in $in_help; do
  roff=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
  grep -A1 '^\.TP' "$1" | grep -q -e "^\.B[IR]* .*$roff\( \|\"\|$\)" ||
    { echo "FAIL $1 has no entry (.TP) for $option"; failed=1; }
done
[ "$failed" -eq 0 ] && echo "ok: $# pages; $(printf '%s\n' "$in_help" | wc -l) options in step"
exit "$failed"
