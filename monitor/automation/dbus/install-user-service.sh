#!/usr/bin/env bash
# Installs (or removes) the session-activation file of the monitor's class
# "XOB_Skyvane.Nephor" for the current user, so that a client that creates
# the class while the monitor is not running makes the session bus start it.
#
#   install-user-service.sh [--exec PATH] [--env NAME=VALUE]... [--dir DIR] [-- ARG...]
#   install-user-service.sh --remove [--dir DIR]
#
#   --exec PATH       the monitor to start (default: build/bin/XOB_Skyvane of
#                     this checkout)
#   --env NAME=VALUE  an environment variable for the started monitor (the bus
#                     starts programs with its own environment: pass DISPLAY,
#                     or a settings folder, this way)
#   --dir DIR         services folder (default:
#                     ${XDG_DATA_HOME:-~/.local/share}/dbus-1/services)
#   --remove          delete the file instead
#   -- ARG...         arguments for the monitor
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
exec_path="$top/build/bin/XOB_Skyvane"
dir="${XDG_DATA_HOME:-$HOME/.local/share}/dbus-1/services"
envs=()
args=()
remove=0
while [ $# -gt 0 ]; do
  case "$1" in
    --exec) exec_path=${2:?--exec needs a path}; shift 2 ;;
    --env)
      case "${2:-}" in
        [A-Za-z_]*=*) envs+=("$2") ;;
        *) echo "install-user-service.sh: --env needs NAME=VALUE" >&2; exit 2 ;;
      esac
      shift 2 ;;
    --dir) dir=${2:?--dir needs a folder}; shift 2 ;;
    --remove) remove=1; shift ;;
    --) shift; args=("$@"); break ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-user-service.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done

file="$dir/XOB_Skyvane.Nephor.service"
if [ "$remove" = 1 ]; then
  rm -f "$file"
  echo "removed $file"
  exit 0
fi
case "$exec_path" in
  /*) ;;
  *) exec_path="$(pwd)/$exec_path" ;;
esac
if [ ! -x "$exec_path" ]; then
  echo "install-user-service.sh: $exec_path is not a program (build the monitor first)" >&2
  exit 1
fi

# The bus splits Exec at blanks and honours quotes like a shell does, but
# runs no shell: environment variables go through env(1).
quote() {
  local s=$1
  case "$s" in
    *[[:space:]\"\'\\]*) s=${s//\\/\\\\}; s=${s//\"/\\\"}; printf '"%s"' "$s" ;;
    *) printf '%s' "$s" ;;
  esac
}
line=""
if [ ${#envs[@]} -gt 0 ]; then
  line="/usr/bin/env"
  for e in "${envs[@]}"; do line="$line $(quote "$e")"; done
  line="$line "
fi
line="$line$(quote "$exec_path")"
if [ ${#args[@]} -gt 0 ]; then
  for a in "${args[@]}"; do line="$line $(quote "$a")"; done
fi

mkdir -p "$dir"
tmp=$(mktemp "$dir/.XOB_Skyvane.Nephor.XXXXXX")
sed "s|^Exec=.*|Exec=$(printf '%s' "$line" | sed 's/[&|\\]/\\&/g')|" "$here/XOB_Skyvane.Nephor.service.in" >"$tmp"
mv -f "$tmp" "$file"
echo "installed $file"
echo "  Exec=$line"

# A running session bus picks the file up at once when asked to.
if command -v dbus-send >/dev/null 2>&1 && [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  dbus-send --session --type=method_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.ReloadConfig >/dev/null 2>&1 || true
fi
