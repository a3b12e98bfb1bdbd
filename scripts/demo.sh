#!/usr/bin/env bash
# Renders the demo through vesk-host into out/demo/. Usage: scripts/demo.sh build/release
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/out/demo"
mkdir -p "$out"
host="$build/host/vesk-host"
clap="$build/plugin/Vesk.clap"

echo "== the plug-in as a host sees it"
"$host" --plugin "$clap" --describe --track Demo | tee "$out/plugin.json"

echo "== one second after a note"
"$host" --plugin "$clap" --rate 48000 --block 512 --seconds 1 --note 0:60:1 \
    --out "$out/note60.wav" --json "$out/note60.json" >/dev/null
cat "$out/note60.json"
echo "demo written to $out"
