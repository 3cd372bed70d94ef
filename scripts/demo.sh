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

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "The demo opens the monitor's window and needs a graphical display." >&2
  echo "Run it from a desktop session, or start a virtual one first, e.g.:" >&2
  echo "  Xvfb :99 -screen 0 1280x900x24 & export DISPLAY=:99" >&2
  exit 2
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

echo "Starting XOB_Skyvane; press Start in its window to see live values."
echo "Other programs can read it meanwhile, e.g.:  $bin/skyvane-cli get Safe"
SKYVANE_SETTINGS_DIR="$demo/settings" "$bin/XOB_Skyvane" || true
# After Help -> Check update -> Update the updater and the restarted monitor
# still need the servers: keep them until asked.
if [ -t 0 ]; then read -r -p "XOB_Skyvane has ended. Press Enter to stop the demo servers. " _ || true; fi
