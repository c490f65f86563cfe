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
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
# getcap lies in /usr/sbin, which a user's search path may lack.
getcap=$(command -v getcap || echo /usr/sbin/getcap)
# Only members of the group qarsilo (and root) may run the helper: whoever can
# run it can capture on every adapter of this machine.
group=qarsilo
if ! getent group "$group" >/dev/null; then
  echo "qarsilo: creating the system group $group for the capture helper"
  as_root groupadd -r "$group"
fi
if [ "$(id -u)" -eq 0 ]; then user=${SUDO_USER:-}; else user=$(id -un); fi
if [ -n "$user" ] && [ "$user" != root ] && ! id -nG "$user" | tr ' ' '\n' | grep -qx "$group"; then
  echo "qarsilo: adding $user to the group $group (it counts from the next login)"
  as_root usermod -a -G "$group" "$user"
fi
# chown clears the file capabilities: owner and mode first, the capabilities last.
if [ "$(stat -c %U:%G:%a "$helper")" != "root:$group:750" ] ||
  ! "$getcap" "$helper" | grep -q cap_net_admin; then
  echo "qarsilo: granting cap_net_raw,cap_net_admin to $helper (root:$group, mode 0750)"
  as_root chown "root:$group" "$helper"
  as_root chmod 0750 "$helper"
  as_root setcap cap_net_raw,cap_net_admin+eip "$helper"
fi
# Rights granted to the program itself by earlier versions of this script go.
if [ -n "$("$getcap" "$program")" ]; then
  as_root setcap -r "$program"
fi
if [ "$(id -u)" -eq 0 ]; then
  # Started with sudo: the window runs as the user who asked.
  if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    exec runuser -u "$SUDO_USER" -- "$program" "$@"
  fi
  # Plain root (a fresh machine or a container with no other user): the window
  # still starts, but with every capability gone and root's automatic rights
  # switched off for good, so only the helper's file capabilities can capture.
  echo "qarsilo: started as root; the window runs without any capability. Run scripts/run.sh" \
    "as your own user to keep root's user id away from it too." >&2
  exec setpriv --securebits=+noroot,+noroot_locked --inh-caps=-all --ambient-caps=-all \
    -- "$program" "$@"
fi
# A group just joined counts only in new logins; sg starts the window in it.
if ! id -nG | tr ' ' '\n' | grep -qx "$group"; then
  if command -v sg >/dev/null; then
    echo "qarsilo: starting with the group $group through sg; log in again to have it everywhere" >&2
    exec sg "$group" -c "$(printf '%q ' "$program" "$@")"
  fi
  echo "qarsilo: log in again so that the group $group counts; until then capture fails" >&2
fi
exec "$program" "$@"
