#!/usr/bin/env bash
# Soak: runs the real program headless for SECONDS on a virtual WIDTHxHEIGHT screen with SDL's
# disk audio driver, the frame probe preloaded, and samples its resident memory (VmRSS) and the
# frames it has presented every few seconds into a CSV. Then it sends SIGTERM, expects
# exit status 0 and prints a summary with PASS or FAIL. It builds nothing.
#   scripts/soak.sh [SECONDS [WIDTHxHEIGHT]]          (default 600 s at 480x270)
# The rule, after the warm-up (the first WARMUP seconds after launch):
#   - the largest RSS sample exceeds the RSS at the end of the warm-up by at most the tolerance,
#   - frames keep being presented, and the program exits with status 0 on SIGTERM.
# Environment (all optional):
#   VELMORA_EXECUTABLE              the program (default build/release/velmora)
#   VELMORA_PROBE                   the frame probe (default libvelmora-probe.so next to it)
#   VELMORA_SOAK_WARMUP             warm-up seconds (default SECONDS/10, at least 5)
#   VELMORA_SOAK_INTERVAL           seconds between samples (default 5)
#   VELMORA_SOAK_RSS_TOLERANCE_MIB  allowed RSS growth after the warm-up (default 8)
#   VELMORA_SOAK_CSV                where the samples go (default build/soak.csv)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
size=${2:-480x270}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then echo "soak: SECONDS must be a positive integer" >&2; exit 2; fi
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "soak: size must be WIDTHxHEIGHT" >&2; exit 2; }
[[ ${VELMORA_SOAK_INTERVAL:-5} =~ ^[1-9][0-9]*$ && ${VELMORA_SOAK_WARMUP:-5} =~ ^[0-9]+$ ]] \
  || { echo "soak: VELMORA_SOAK_INTERVAL and VELMORA_SOAK_WARMUP are whole seconds" >&2; exit 2; }

if [ -z "${INSIDE_XVFB:-}" ]; then
  INSIDE_XVFB=1 exec "$root/scripts/with-xvfb.sh" "$size" "$0" "$@"
fi

program=$(realpath "${VELMORA_EXECUTABLE:-$root/build/release/velmora}")
probe=$(realpath "${VELMORA_PROBE:-$(dirname "$program")/libvelmora-probe.so}")
warmup=${VELMORA_SOAK_WARMUP:-$((seconds / 10 > 5 ? seconds / 10 : 5))}
interval=${VELMORA_SOAK_INTERVAL:-5}
# Under a loaded CPU the heap was seen to step once by about 4 MiB on llvmpipe, then stay flat.
tolerance_mib=${VELMORA_SOAK_RSS_TOLERANCE_MIB:-8}
csv=${VELMORA_SOAK_CSV:-$root/build/soak.csv}
[ -x "$program" ] || { echo "soak: no program at $program" >&2; exit 2; }
[ -f "$probe" ] || { echo "soak: no probe at $probe (build the velmora-probe target)" >&2; exit 2; }
((warmup < seconds)) || { echo "soak: the warm-up ($warmup s) must be shorter than the run" >&2; exit 2; }
mkdir -p "$(dirname "$csv")"

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$root/assets" "$work/assets"
probed=$work/probe.txt

micros() { echo "${EPOCHREALTIME/[.,]/}"; }
start=$(micros)
(
  cd "$work"
  export SDL_AUDIO_DRIVER=disk SDL_AUDIO_DISK_OUTPUT_FILE=/dev/null
  export VELMORA_PROBE_FILE=$probed LD_PRELOAD=$probe
  # A sanitized program wants its runtime first in the library list; the probe comes first here.
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
  exec "$program" >stdout.txt 2>stderr.txt
) &
pid=$!
echo "soak: $program, $seconds s at $size, warm-up $warmup s, a sample every $interval s"

field() { awk -v key="$1" '$1 == key { print $2 }' "$probed" 2>/dev/null || true; }
echo "time_s,rss_kib,frames" >"$csv"
died=0
while :; do
  elapsed_us=$(($(micros) - start))
  if ! rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || [ -z "$rss" ]; then
    died=1
    break
  fi
  printf '%d.%d,%s,%s\n' $((elapsed_us / 1000000)) $((elapsed_us / 100000 % 10)) "$rss" \
    "$(field frames)" >>"$csv"
  ((elapsed_us < seconds * 1000000)) || break
  left_us=$((seconds * 1000000 - elapsed_us))
  if ((left_us < interval * 1000000)); then
    sleep "$((left_us / 1000000)).$(printf '%06d' $((left_us % 1000000)))"
  else
    sleep "$interval"
  fi
done

status=0
if ((died)); then
  wait "$pid" || status=$?
  echo "soak: the program ended by itself after $((elapsed_us / 1000000)) s, status $status"
  status="$status (ended before SIGTERM)"
else
  kill -TERM "$pid"
  wait "$pid" || status=$?
fi
pid=""
[ "$status" = 0 ] || sed 's/^/  stderr: /' "$work/stderr.txt" | tail -20

echo "samples: $csv"
awk -F, -v warmup="$warmup" -v tolerance_mib="$tolerance_mib" -v status="$status" '
  NR == 1 { next }
  first_rss == "" && $3 != "" { first_rss = $2; first_t = $1 }
  warm_rss == "" && $1 >= warmup { warm_t = $1; warm_rss = $2; warm_frames = $3; max_rss = $2 }
  warm_rss != "" && $2 > max_rss { max_rss = $2; max_t = $1 }
  { end_t = $1; end_rss = $2; end_frames = $3 }
  END {
    mib = 1024
    if (warm_rss == "") { print "FAIL: no sample after the warm-up"; exit 1 }
    printf "RSS (MiB): first frame (%ss) %.1f, end of warm-up (%ss) %.1f, max after warm-up %.1f, end (%ss) %.1f\n",
      first_t, first_rss / mib, warm_t, warm_rss / mib, max_rss / mib, end_t, end_rss / mib
    printf "frames: %s at the end of warm-up, %s at the end (%.2f per second)\n", warm_frames,
      end_frames, (end_frames - warm_frames) / (end_t - warm_t)
    failed = 0
    if (status != "0") { print "  exit status " status ", not 0"; failed = 1 }
    if (end_frames == "" || end_frames <= warm_frames) { print "  no frames presented after the warm-up"; failed = 1 }
    if (max_rss - warm_rss > tolerance_mib * mib) {
      printf "  RSS grew by %.1f MiB after the warm-up, more than %s MiB\n", (max_rss - warm_rss) / mib, tolerance_mib
      failed = 1
    }
    printf "%s (rule: RSS growth after the warm-up at most %s MiB, frames advancing, exit status 0)\n",
      failed ? "FAIL" : "PASS", tolerance_mib
    exit failed
  }' "$csv"
