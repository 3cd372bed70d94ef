#!/usr/bin/env bash
# Builds the monitor and runs it in demo mode: the sensor stand-in with a
# simulated sensor, a station file rewritten every few seconds, and the
# monitor with a settings folder of its own (./.demo), so your own settings
# are never touched. Uses your session bus, or starts a private one.
# With --indi the sensor server is XOB_Nephor_indi in front of indiserver
# running Debian's indi_simulator_weather (package indi-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
indi=0
[ "${1:-}" = "--indi" ] && indi=1

# Without a display (a server reached over ssh) the demo runs the monitor
# without a window: it starts monitoring at once, and its status page shows
# what the window would.
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  echo "No graphical display: the demo runs the monitor without a window (XOB_Skyvane --headless)."
  echo "(For the window, run it in a desktop session or under Xvfb: Xvfb :99 & export DISPLAY=:99)"
fi

bash scripts/build.sh
bin="$top/build/bin"
demo="$top/.demo"
mkdir -p "$demo/settings" "$demo/data" "$demo/images"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

# A session bus: the user's own when it answers, else a private one.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || ! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  addr_file=$(mktemp)
  dbus-daemon --session --fork --print-address=1 --print-pid=2 >"$addr_file" 2>"$addr_file.pid"
  export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$addr_file")
  pids+=("$(head -n1 "$addr_file.pid")")
  rm -f "$addr_file" "$addr_file.pid"
  echo "Started a private session bus: $DBUS_SESSION_BUS_ADDRESS"
fi

# Client programs that create the monitor's class start it through the bus.
bash monitor/automation/dbus/install-user-service.sh --exec "$bin/XOB_Skyvane" \
  --env "SKYVANE_SETTINGS_DIR=$demo/settings" ${DISPLAY:+--env "DISPLAY=$DISPLAY"} >/dev/null

# Settings of the demo: straight to the main window, paths inside .demo.
ini="$demo/settings/XOB_Skyvane.ini"
if [ ! -f "$ini" ]; then
  cat >"$ini" <<INI
[Setup]
Emulator=1
HTMFile=$demo/data/station.htm
ReadStation=1
Upload=0
RefreshRead=0
NPTimeout=10

[Window]
PathName=$demo/data
PathNameCCDAP4=$demo/data

[Graphs]
GraphImagePath=$demo/images
INI
fi

# The station file, rewritten every 5 seconds.
if [ -x "$bin/skyvane-station-writer" ]; then
  "$bin/skyvane-station-writer" --out "$demo/data/station.htm" --format htm --interval 5 >"$demo/station-writer.log" 2>&1 &
  pids+=($!)
fi

# The sensor server stand-in (unless a sensor server already runs).
if ! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:XOB_Nephor.Nephor 2>/dev/null | grep -q true; then
  if [ "$indi" = 1 ]; then
    # indiserver on a free port with the weather simulator, and the bridge.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    indiserver -p "$port" -u "$demo/indiserver.sock" indi_simulator_weather >"$demo/indiserver.log" 2>&1 &
    pids+=($!)
    "$bin/XOB_Nephor_indi" --print-example-config | sed "s/^Port=.*/Port=$port/" >"$demo/settings/XOB_Nephor_indi.ini"
    SKYVANE_SETTINGS_DIR="$demo/settings" "$bin/XOB_Nephor_indi" >"$demo/bridge.log" 2>&1 &
    pids+=($!)
    echo "INDI weather simulator on port $port; make it rain with:"
    echo "  indi_setprop -p $port 'Weather Simulator.WEATHER_CONTROL.Precip=5'"
  else
    "$bin/XOB_Nephor_sim" >"$demo/standin.log" 2>&1 &
    pids+=($!)
  fi
fi

# A local update server for Help -> Check update: news, a "newer" version
# (this same build) and the updater's description. Plain http is accepted
# from 127.0.0.1 only.
upd="$demo/update/xob/skyvane220"
mkdir -p "$upd"
cp "$bin/XOB_Skyvane" "$upd/XOB_Skyvane"
echo "5.99.000" >"$upd/XOB_Skyvane.txt"
echo "Demo news: this text came from the local update server. Tick the box below to discard it." >"$upd/XOB_SkyvaneNews.txt"
python3 updater/tests/update_server.py --root "$demo/update" >"$demo/update-server.port" 2>"$demo/update-server.log" &
pids+=($!)
for _ in $(seq 50); do grep -q '^PORT' "$demo/update-server.port" && break; sleep 0.1; done
uport=$(sed -n 's/^PORT //p' "$demo/update-server.port")
printf '"XOB_Skyvane","http://127.0.0.1:%s/xob/skyvane220/XOB_Skyvane","XOB_Skyvane_new","XOB_Skyvane","XOB_Skyvane.old"\r\n' \
  "$uport" >"$upd/XOB_SkyvaneUpdater.txt"
sed -i '/^UpdateServer=/d' "$ini"
sed -i "s|^\[Setup\]\$|[Setup]\nUpdateServer=http://127.0.0.1:$uport|" "$ini"

if [ "$headless" = 1 ]; then
  # The status page on 11111 when it is free, else on a free port.
  hport=11111
  if ! python3 -c 'import socket,sys; s=socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1])))' "$hport" 2>/dev/null; then
    hport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  fi
  SKYVANE_SETTINGS_DIR="$demo/settings" SKYVANE_HTTP_PORT="$hport" "$bin/XOB_Skyvane" --headless >"$demo/monitor.log" 2>&1 &
  mon=$!
  pids+=("$mon")
  for _ in $(seq 100); do
    python3 -c 'import sys,urllib.request; urllib.request.urlopen(sys.argv[1], timeout=2)' \
      "http://127.0.0.1:$hport/api/skyvane/v1/status" 2>/dev/null && break
    kill -0 "$mon" 2>/dev/null || { echo "The monitor ended; see $demo/monitor.log" >&2; exit 1; }
    sleep 0.2
  done
  echo "The monitor is running without a window and monitoring (log: $demo/monitor.log)."
  echo "Status page:  http://127.0.0.1:$hport/   (over ssh: ssh -L $hport:127.0.0.1:$hport <this machine>)"
  echo "Status JSON:  http://127.0.0.1:$hport/api/skyvane/v1/status"
  echo "On the bus:   $bin/skyvane-cli get Safe"
  echo "Press Ctrl+C to stop the demo."
  wait "$mon" || true
  exit 0
fi

echo "Starting XOB_Skyvane; press Start in its window to see live values."
echo "Other programs can read it meanwhile, e.g.:  $bin/skyvane-cli get Safe"
SKYVANE_SETTINGS_DIR="$demo/settings" "$bin/XOB_Skyvane" || true
# After Help -> Check update -> Update the updater and the restarted monitor
# still need the servers: keep them until asked.
if [ -t 0 ]; then read -r -p "XOB_Skyvane has ended. Press Enter to stop the demo servers. " _ || true; fi
