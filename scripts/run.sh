#!/usr/bin/env bash
# Installs, builds and starts qarsilo. The address book is created in the
# folder this is started from; the adapter is the stored one (or chosen at the
# first start).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build"
program="$top/build/src/qarsilo"
if [ "$(id -u)" -ne 0 ]; then
  # Capture needs raw sockets and promiscuous mode; grant them to the program
  # file instead of running it as root.
  echo "qarsilo: granting cap_net_raw,cap_net_admin to $program (sudo)"
  sudo setcap cap_net_raw,cap_net_admin+eip "$program"
fi
exec "$program" "$@"
