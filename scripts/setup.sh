#!/usr/bin/env bash
# Installs what qarsilo needs to build, run and test on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  libpcap-dev libcap2-bin fonts-liberation
  # optional at run time: network card makers by MAC prefix (autodiscovery)
  ieee-data
  # tests: X11 display for screenshots, reference decoders, network namespaces
  xvfb xauth tshark tcpdump iproute2
  # tests: printed lists are read back from PDF files
  poppler-utils
  # the address book on a PostgreSQL server; the server itself for the tests
  libqt6sql6-psql postgresql
  # fuzzing: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "qarsilo setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
