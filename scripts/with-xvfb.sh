#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, started for it and stopped after it.
#   scripts/with-xvfb.sh [WIDTHxHEIGHT] CMD [ARGS...]     (default 1920x1080)
# Xvfb picks a free display number itself, so several of these can run at once.
set -euo pipefail

size=1920x1080
if [[ ${1:-} =~ ^[0-9]+x[0-9]+$ ]]; then
  size=$1
  shift
fi

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true' EXIT
read -r display <"$fifo" || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
rm -f "$fifo"

status=0
DISPLAY=":$display" "$@" || status=$?
exit "$status"
