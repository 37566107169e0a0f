#!/usr/bin/env bash
# Runs the demo without a display: a virtual 1920x1080 X screen, SDL's disk audio driver
# writing into build/, a screenshot after VELMORA_SECONDS seconds (default 10), then a
# window-close request.
#   scripts/headless-run.sh PATH-TO-VELMORA
set -euo pipefail

program=$1
seconds=${VELMORA_SECONDS:-10}
out=build
mkdir -p "$out"

if [ -z "${INSIDE_XVFB:-}" ]; then
  INSIDE_XVFB=1 exec "$(dirname "$0")/with-xvfb.sh" 1920x1080 "$0" "$@"
fi

export SDL_AUDIO_DRIVER=disk
export SDL_AUDIO_DISK_OUTPUT_FILE="$out/audio.raw"
"$program" &
pid=$!
sleep "$seconds"
import -window root "$out/screenshot.png"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?

sox -t raw -r 44100 -e signed -b 16 -c 2 "$out/audio.raw" "$out/audio.wav" 2>/dev/null || true
echo "screenshot: $out/screenshot.png"
echo "audio: $out/audio.raw (S16LE, stereo, 44100 Hz), also as $out/audio.wav"
exit "$status"
