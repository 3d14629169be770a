#!/bin/sh
# Brings a Wine prefix up (created on first use, server kept running, crash
# debugger off so that a crash always fails its test) or takes it down.
# Usage: wine-prefix.sh up|down PREFIX
set -u
action=$1
WINEPREFIX=$2
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
case "$action" in
  up)
    mkdir -p "$WINEPREFIX"
    # Null standard streams: a server that inherits a captured stream would
    # hold the capture open until it exits.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wineboot -i </dev/null >/dev/null 2>&1 || exit 1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /t REG_SZ /d '' /f </dev/null >/dev/null 2>&1 || exit 1
    ;;
  down)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 up|down PREFIX" >&2
    exit 2
    ;;
esac
