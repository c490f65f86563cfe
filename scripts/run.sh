#!/usr/bin/env bash
# Installs, builds and starts qarsilo. The address book is created in the
# folder this is started from; the adapter is the stored one (or chosen at the
# first start).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build"
program="$top/build/src/qarsilo"
helper="$top/build/src/qarsilo-capture"
# Capture needs raw sockets and promiscuous mode. Only the small capture helper
# gets these rights; the window process holds none and never runs as root.
if [ "$(id -u)" -eq 0 ]; then
  echo "qarsilo: run this as your own user, not as root; the capture helper gets the rights" >&2
  exit 1
fi
# getcap lies in /usr/sbin, which a user's search path may lack.
getcap=$(command -v getcap || echo /usr/sbin/getcap)
if ! "$getcap" "$helper" | grep -q cap_net_admin; then
  echo "qarsilo: granting cap_net_raw,cap_net_admin to $helper (sudo)"
  sudo setcap cap_net_raw,cap_net_admin+eip "$helper"
fi
# Rights granted to the program itself by earlier versions of this script go.
if [ -n "$("$getcap" "$program")" ]; then
  sudo setcap -r "$program"
fi
exec "$program" "$@"
