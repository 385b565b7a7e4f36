#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own throw-away prefix.
set -u
: "${WINEPREFIX:=${QUILLON_WINEPREFIX:-/tmp/quillon-wine-$(id -u)}}"
export WINEPREFIX WINEDEBUG=-all
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
exec "$wine" "$@"
