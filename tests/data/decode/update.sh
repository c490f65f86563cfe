#!/bin/sh
# Rewrites the expected output NAME.out of every TESTLIST line with what
# qarsilo-cli prints now. Read the diff before committing it.
#   usage: update.sh PATH-TO-qarsilo-cli
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:?usage: update.sh PATH-TO-qarsilo-cli}
grep -v '^#' "$here/TESTLIST" | while read -r name capture frame; do
    [ -n "$name" ] || continue
    case $capture in
    pcap:*) file=$here/../pcap/${capture#pcap:} ;;
    *) file=$here/$capture ;;
    esac
    "$cli" decode "$file" "$frame" >"$here/$name.out"
done
