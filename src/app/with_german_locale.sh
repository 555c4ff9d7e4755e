#!/usr/bin/env bash
# Runs a command under LC_ALL=de_DE.UTF-8, creating that locale first when it is
# missing and we may. Exits 77 (skipped) when the locale cannot be had.
set -u
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  if [ "$(id -u)" -ne 0 ] || ! localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null; then
    echo "de_DE.UTF-8 is not available; skipped." >&2
    exit 77
  fi
fi
export LC_ALL=de_DE.UTF-8
exec "$@"
