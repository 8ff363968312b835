#!/usr/bin/env bash
# Makes the wine prefixes the end-to-end tests use before any test runs, so
# that wine's first-start messages stay out of them: root's (the argument)
# and the ordinary user's (uid 65534), which wine wants owned by that user.
# Wine keeps its own temporary files in TMPDIR: inside the prefix, they go
# with it.
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=,winemenubuilder.exe=d'

# wineboot can fail while a wine server of an earlier run is still ending.
boot() {
  local attempt
  for attempt in 1 2 3; do
    if "$@" wineboot -i >/tmp/code2option-wineboot.$$ 2>&1; then
      rm -f /tmp/code2option-wineboot.$$
      return 0
    fi
    sleep 2
  done
  cat /tmp/code2option-wineboot.$$ >&2
  rm -f /tmp/code2option-wineboot.$$
  return 1
}

mkdir -p "$1/tmp"
boot env WINEPREFIX="$1" TMPDIR="$1/tmp"
user_prefix=/tmp/code2option-wine-65534
mkdir -p "$user_prefix/tmp"
chown 65534:65534 "$user_prefix" "$user_prefix/tmp"
boot setpriv --reuid=65534 --regid=65534 --clear-groups \
  env HOME="$user_prefix" WINEPREFIX="$user_prefix" TMPDIR="$user_prefix/tmp"
