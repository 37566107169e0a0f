#!/usr/bin/env bash
# Runs the demo without the user's display, in environments of scripts/environment.sh: a desktop
# (a virtual 1920x1080 X screen unless --on names another) and a sound server whose null sink
# records the music (PulseAudio unless --on names PipeWire). After VELMORA_SECONDS seconds
# (default 10) it saves the screen (where the desktop gives a script no way to take it, the
# program's frame read back by the frame probe), then asks the window to close (SIGTERM where the
# desktop has no close request) and saves the audio.
#   scripts/headless-run.sh [--on NAME] CMD [ARGS...]
# VELMORA_PROBE names the frame probe to preload into the program.
set -euo pipefail

environment=$(cd "$(dirname "$0")" && pwd)/environment.sh
desktop=xvfb sound=pulseaudio
if [ "${1:-}" = --on ]; then
  case $2 in
    pulseaudio | pipewire) sound=$2 ;;
    *) desktop=$2 ;;
  esac
  shift 2
fi
seconds=${VELMORA_SECONDS:-10}
out=build
mkdir -p "$out"

work=$(mktemp -d)
mkdir "$work/desktop" "$work/sound"
finish() {
  "$environment" end "$desktop" "$work/desktop"
  "$environment" end "$sound" "$work/sound"
  rm -rf "$work"
}
trap finish EXIT
"$environment" start "$desktop" "$work/desktop"
"$environment" start "$sound" "$work/sound"

frame=$work/frame.ppm
"$environment" exec "$work/sound" "$environment" exec "$work/desktop" \
  env ${VELMORA_PROBE:+LD_PRELOAD="$VELMORA_PROBE"} VELMORA_PROBE_FRAME="$frame" "$@" &
pid=$!
sleep "$seconds"
if kill -0 "$pid" 2>/dev/null; then
  if ! "$environment" shot "$desktop" "$work/desktop" "$out/screenshot.png" 2>/dev/null; then
    kill -USR1 "$pid"  # the probe reads the next frame back
    waited=0
    while [ ! -s "$frame" ] && ((waited++ < 600)); do sleep 0.1; done
    convert "$frame" "$out/screenshot.png" || echo "headless-run: no frame read back" >&2
  fi
  "$environment" close "$desktop" "$work/desktop" >/dev/null 2>&1 || kill -TERM "$pid"
fi
status=0
wait "$pid" || status=$?

sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/sound/audio.raw" "$out/audio.wav"
echo "screenshot: $out/screenshot.png"
echo "audio: $out/audio.wav"
exit "$status"
