#!/usr/bin/env bash
# The environments the demo runs in, beside the build environment: a virtual X display, five
# desktops, a second GL implementation, two sound servers, three browser engines and Wine. Each is
# defined here once: how it starts, when it is ready and what a program needs to reach it, how its
# screen is taken, how a window is asked to close, how it ends and how its server dies as a crash
# would end it. ./dev run --on NAME runs the demo in one; the tests start theirs from here.
#
#   scripts/environment.sh list
#   scripts/environment.sh start NAME FOLDER [WIDTHxHEIGHT [URL [SCALE]]]
#       Starts NAME in FOLDER, an empty folder that becomes its home and runtime folder, in a
#       session of its own, and returns once it is ready; then FOLDER/env holds, a line each,
#       NAME=VALUE what a program needs to reach it (an empty value: the name is unset). The
#       screen is 1920x1080 unless given; a browser opens URL at SCALE device pixels a CSS pixel.
#       One that ends or is not ready in time (VELMORA_READY_TIMEOUT: 120 s, for Wine 600 s, as
#       it makes its prefix the first time) is ended, with the end of its log.
#   scripts/environment.sh shot NAME FOLDER FILE    its screen into the PNG file FILE
#   scripts/environment.sh close NAME FOLDER        the close request to the window titled
#                                                   "Velmora", as the desktop's close button sends it
#   scripts/environment.sh crash NAME FOLDER        its server killed (SIGKILL), as a crash would
#   scripts/environment.sh end NAME FOLDER          every process it started ended
#   scripts/environment.sh exec FOLDER CMD [ARGS...]
#       CMD run from the current folder with the variables of the environment started in FOLDER.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

# The names, each with what it is.
NAMES=(
  "xvfb        a virtual X screen, no window manager"
  "openbox     openbox on a virtual X screen"
  "weston      weston, headless (Wayland, no X)"
  "sway        sway, the wlroots compositor, headless (Wayland, no X)"
  "mutter      GNOME's mutter, headless, with Xwayland"
  "kwin        KDE's KWin at 200 %, with Xwayland"
  "zink        openbox, GL through Mesa's zink over lavapipe (Vulkan)"
  "pulseaudio  a PulseAudio server with a null sink as its default device, recorded"
  "pipewire    PipeWire with WirePlumber and pipewire-pulse, a null sink as the default, recorded"
  "chromium    Chromium on a virtual X screen, its own PulseAudio server"
  "firefox     Firefox on a virtual X screen, its own PulseAudio server"
  "webkit      WebKitGTK's MiniBrowser on a virtual X screen, its own PulseAudio server"
  "phone       Chromium as a 6.1\" phone (390x844 at 3, touch), driven through DevTools"
  "wine        Wine on openbox, its prefix kept in the cache folder"
)

# Adds NAME=VALUE words to what a program needs; `start` makes them ./env once all are in.
ready() { printf '%s\n' "$@" >>env.new; }

# Waits until "$@" succeeds; ends the start, with a line, once the server in ./$server.pid is gone.
until_ok() {
  until "$@" >/dev/null 2>&1; do
    kill -0 "$(cat "$server.pid" 2>/dev/null || echo 0)" 2>/dev/null \
      || { echo "environment: $server ended before it was ready" >&2; exit 1; }
    sleep 0.1
  done
}

# Starts "$@" in the background as the server `server`, its pid in ./$server.pid.
serve() {
  server=$1
  shift
  "$@" &
  echo $! >"$server.pid"
}

# --- X: Xvfb picks a free display number itself; openbox is a window manager that honours the
# fullscreen and close requests as desktops do.
start_xvfb() {
  serve xvfb Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>display
  until_ok test -s display
  export DISPLAY=:$(cat display)
  ready "DISPLAY=$DISPLAY" "XDG_RUNTIME_DIR=$PWD"
}
start_openbox() {
  start_xvfb
  openbox --sm-disable &
  until_ok sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
}
shot_x() { import -window root "$1"; }
close_x() { wmctrl -c Velmora; }

# --- weston with its headless backend and desktop shell: a seat (without one the fullscreen
# window is never activated and the panel stays above it) and the debug protocol its
# screenshooter needs. It offers no close request to a script.
start_weston() {
  serve weston weston --backend=headless --renderer=pixman --width="$width" --height="$height" \
    --fake-seat --debug --no-config --socket=velmora
  until_ok test -e velmora
  ready WAYLAND_DISPLAY=velmora SDL_VIDEO_DRIVER=wayland "XDG_RUNTIME_DIR=$PWD"
}
shot_weston() {
  local file
  file=$(realpath "$1")
  cd "$folder"
  rm -f wayland-screenshot-*.png
  weston-screenshooter && mv wayland-screenshot-*.png "$file"
}

# --- sway, headless, without Xwayland. It refuses to run as root, so it runs as uid 1000 of a
# user namespace of its own (mapped to the caller's own uid). It makes a window fullscreen only
# after its first frame, which is 1920x1080, SDL's default.
start_sway() {
  printf 'output HEADLESS-1 resolution %s scale 1\nxwayland disable\n' "$size" >config
  echo 'exec echo WAYLAND_DISPLAY=$WAYLAND_DISPLAY SWAYSOCK=$SWAYSOCK > sway.env' >>config
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    serve sway unshare --user --map-user=1000 --map-group=1000 sway -c config
  until_ok test -s sway.env
  ready $(cat sway.env) "XDG_RUNTIME_DIR=$PWD"
}
shot_sway() { grim "$1"; }
close_sway() { swaymsg '[title=^Velmora$]' kill; }

# --- GNOME's mutter and KDE's KWin as sessions run them, in a D-Bus session, headless, with
# Xwayland: SDL picks its video driver itself. The session's command notes what the compositor
# gives it. Neither lets a script take its screen.
session='echo WAYLAND_DISPLAY=velmora DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY \
DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS > session.env; exec sleep infinity'
start_mutter() {
  serve session dbus-run-session -- mutter --headless --wayland --wayland-display=velmora \
    --virtual-monitor "$size" -- sh -c "$session"
  until_ok test -s session.env
  ready $(cat session.env) "XDG_RUNTIME_DIR=$PWD"
}
# KWin as a Plasma session on a HiDPI laptop runs it: a virtual output at scale 2, Qt's
# offscreen platform. The installed binary carries file capabilities that a sandbox refuses to
# execute; a plain copy runs.
start_kwin() {
  cp "$(command -v kwin_wayland)" .
  printf '#!/bin/sh\n%s\n' "$session" >session && chmod +x session
  QT_QPA_PLATFORM=offscreen serve session dbus-run-session -- ./kwin_wayland --virtual \
    --width $((width / 2)) --height $((height / 2)) --scale 2 --socket velmora --xwayland ./session
  until_ok test -s session.env
  ready $(cat session.env) "XDG_RUNTIME_DIR=$PWD"
}
# The close request as the title bar's button makes it, through a KWin script.
close_kwin() {
  echo 'for (const w of workspace.windowList()) if (w.caption == "Velmora") w.closeWindow();' \
    >"$folder/close.js"
  for call in "loadScript string:$folder/close.js string:close" start; do
    dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.$call
  done
}

# --- zink over lavapipe, on openbox. Mesa's GLX loads zink for a software context by this name
# (GALLIUM_DRIVER=zink is refused there).
start_zink() {
  start_openbox
  ready LIBGL_ALWAYS_SOFTWARE=1 MESA_LOADER_DRIVER_OVERRIDE=zink
}

# --- Sound servers whose default device is a null sink, recorded into ./audio.raw (S16LE,
# stereo, 44100 Hz). SDL reaches either through its own driver for it.
record() {
  until_ok pactl info
  parec -d velmora.monitor --format=s16le --rate=44100 --channels=2 >audio.raw &
  ready SDL_AUDIO_DRIVER= "PULSE_SERVER=$PULSE_SERVER"
}
start_pulseaudio() {
  export PULSE_SERVER=unix:$PWD/native
  serve pulseaudio pulseaudio --daemonize=no -n --exit-idle-time=-1 \
    --load="module-native-protocol-unix socket=$PWD/native auth-anonymous=1" \
    --load="module-null-sink sink_name=velmora rate=44100 channels=2 format=s16le"
  record
}
# As desktops run it: the daemon, WirePlumber and pipewire-pulse in one D-Bus session, the graph
# at the music's rate (as on a desktop set to 44.1 kHz), the sink made the default through
# pipewire-pulse as a user's sound settings do, once its node is in the graph. WirePlumber ends
# if the daemon's socket is not there yet (and without it no sink can be made the default).
start_pipewire() {
  export XDG_CONFIG_HOME=$PWD PULSE_SERVER=unix:$PWD/pulse/native
  mkdir -p pipewire/pipewire.conf.d
  echo 'context.properties = { default.clock.rate = 44100 }' >pipewire/pipewire.conf.d/rate.conf
  serve session dbus-run-session -- sh -c 'pipewire & echo $! > pipewire.pid
    until [ -e pipewire-0 ]; do sleep 0.1; done; wireplumber & exec pipewire-pulse'
  until_ok pactl info
  server=pipewire
  pactl load-module module-null-sink sink_name=velmora rate=44100 channels=2 format=s16le >/dev/null
  until_ok pactl set-default-sink velmora
  ready "PIPEWIRE_REMOTE=$PWD/pipewire-0"
  record
}

# --- Browsers in a window of a virtual X screen without a window manager, each with WebGL 2 from
# Mesa's llvmpipe (Chromium's through ANGLE on Mesa's OpenGL), with a PulseAudio server of their
# own (without one, the windowed engines keep every audio context from running), audio held until
# a user's gesture as with their default settings. WINDOW is the browser's window, for X input.
start_browser() {
  start_xvfb
  start_pulseaudio
  serve browser "$@"
  until_ok sh -c "xdotool search --onlyvisible --pid $(cat browser.pid) > window"
  ready "WINDOW=$(head -n 1 window)"
}
# "$@" adds flags.
start_chromium() {
  start_browser chromium --no-sandbox --use-gl=angle --use-angle=gl \
    --ignore-gpu-blocklist --autoplay-policy=document-user-activation-required --user-data-dir="$PWD/profile" \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --force-device-scale-factor="$scale" "$@" "$url"
}
# A phone: Chromium as above, its page a 6.1" phone held upright (390x844 CSS pixels at 3 device
# pixels each, with touch), emulated through the DevTools protocol on a pipe that stays open for
# whoever drives the page (scripts/devtools.py; cdp.in and cdp.out in the folder).
start_phone() {
  local page=$url
  mkfifo cdp.in cdp.out
  exec 3<>cdp.in 4<>cdp.out
  url=about:blank start_chromium --remote-debugging-pipe
  devtools Emulation.setTouchEmulationEnabled '{"enabled": true, "maxTouchPoints": 5}'
  devtools Emulation.setDeviceMetricsOverride '{"width": 390, "height": 844,
    "deviceScaleFactor": 3, "mobile": true,
    "screenOrientation": {"type": "portraitPrimary", "angle": 0}}'
  devtools Page.navigate "{\"url\": \"$page\"}"
}
devtools() { python3 "$here/devtools.py" "$PWD" "$@" >/dev/null; }
# Firefox: WebGL on llvmpipe, which it otherwise leaves out as too slow; audio waits for a click
# or a key press, as with its default settings; no first-run pages; a 144 Hz display.
start_firefox() {
  mkdir profile
  cat >profile/user.js <<EOF
user_pref("webgl.force-enabled", true);
user_pref("media.autoplay.default", 1);
user_pref("media.autoplay.block-webaudio", true);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("layout.css.devPixelsPerPx", "$scale");
user_pref("layout.frame_rate", 144);
EOF
  start_browser firefox-esr --profile profile --no-remote "$url"
}
# WebKitGTK's device pixel ratio is GTK's window scale, fixed when it starts.
start_webkit() {
  GDK_SCALE=$scale start_browser /usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser "$url"
}

# --- Wine on openbox, where Wine's OpenGL reaches the build environment's Mesa. Its prefix is
# made once per Wine version in the cache folder (no Mono or Gecko, whose installers would ask;
# no desktop menu entries) and shared; one persistent Wine server for the environment's life.
# WINEDEBUG=-all keeps Wine's debug channels off a program's standard error.
start_wine() {
  start_openbox
  local cache=${VELMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora} prefix
  prefix=$cache/wine-$(wine --version | sha256sum | cut -c1-16)
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  mkdir -p "$cache"
  (
    flock 8
    if [ ! -e "$prefix/.complete" ]; then
      rm -rf "$prefix"
      wineboot --init >/dev/null 2>&1 && "$wineserver" --wait && touch "$prefix/.complete"
    fi
  ) 8>"$cache/.lock-wine"
  [ -e "$prefix/.complete" ] || { echo "environment: the Wine prefix could not be made" >&2; exit 1; }
  serve wineserver "$wineserver" --foreground --persistent
  ready "WINEPREFIX=$WINEPREFIX" "WINEDEBUG=$WINEDEBUG" "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
}
# Wine's server, which Debian keeps off PATH.
wineserver=${WINESERVER:-/usr/lib/x86_64-linux-gnu/wine/wineserver}

# How each takes its screen, closes a window and which server a crash kills: X's, unless below.
for name in xvfb openbox zink chromium firefox webkit phone wine; do
  eval "shot_$name() { shot_x \"\$@\"; }"
done
for name in openbox zink wine; do eval "close_$name() { close_x; }"; done
crash_server() {
  case $1 in
    openbox | zink | wine) echo xvfb ;;
    *) echo "$1" ;;
  esac
}

# Loads the variables of the environment started in the folder $1.
load() {
  [ -s "$1/env" ] || { echo "environment: nothing started in $1" >&2; exit 2; }
  while IFS='=' read -r key value; do
    if [ -n "$value" ]; then export "$key=$value"; else unset "$key"; fi
  done <"$1/env"
}

# Ends the session started in the folder $1: politely, then for good after 2 s.
end() {
  local group
  group=$(cat "$1/group" 2>/dev/null) || return 0
  kill -TERM -- "-$group" 2>/dev/null || return 0
  for _ in $(seq 20); do
    kill -0 -- "-$group" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL -- "-$group" 2>/dev/null || true
}

command=${1:-}
name=${2:-}
case $command in
  list) printf '%s\n' "${NAMES[@]}" ;;
  start)
    declare -F "start_$name" >/dev/null || { echo "environment: no environment '$name'" >&2; exit 2; }
    folder=$(cd "$3" && pwd)
    rm -f "$folder/env"
    setsid "$0" serve "${@:2}" >"$folder/log" 2>&1 </dev/null &
    limit=${VELMORA_READY_TIMEOUT:-$([ "$name" = wine ] && echo 600 || echo 120)}
    until [ -e "$folder/env" ]; do
      why=
      ((SECONDS <= limit)) || why="was not ready in $limit s"
      kill -0 $! 2>/dev/null || why="ended before it was ready"
      if [ -n "$why" ]; then
        echo "environment: $name $why; the end of its log:" >&2
        tail -n 30 "$folder/log" >&2
        end "$folder"
        exit 1
      fi
      sleep 0.1
    done
    ;;
  serve)  # start's own: the environment, in the session that `end` ends
    size=${4:-1920x1080} url=${5:-about:blank} scale=${6:-1}
    width=${size%x*} height=${size#*x}
    cd "$3"
    echo $$ >group
    export HOME=$PWD XDG_RUNTIME_DIR=$PWD
    chmod 700 .
    "start_$name"
    mv env.new env
    wait
    ;;
  shot | close)
    declare -F "${command}_$name" >/dev/null \
      || { echo "environment: $name gives a script no way to $command" >&2; exit 2; }
    load "$3"
    folder=$(cd "$3" && pwd)
    "${command}_$name" "${@:4}"
    ;;
  crash) kill -KILL "$(cat "$3/$(crash_server "$name").pid")" ;;
  end) end "$3" ;;
  exec) load "$2"; exec "${@:3}" ;;
  *) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
