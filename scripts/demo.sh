#!/usr/bin/env bash
# Renders the demo through vesk-host into out/demo/: synthesised samples, a kit of four pools
# with randomisation and FX built into a plug-in state, one WAV per host note, and a summary of
# levels and lengths. Fails when a render is silent, above full scale or not finite.
# Usage: scripts/demo.sh build/release
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="$root/out/demo"
host="$build/host/vesk-host"
kit="$build/host/kit/vesk-kit"
clap="$build/plugin/Vesk.clap"
rate=48000

rm -rf "$out"
mkdir -p "$out"

echo "== demo samples"
"$build/host/kit/vesk-demo-samples" "$out/samples"

echo "== the kit as a plug-in state"
cp "$root/scripts/demo-kit.json" "$out/demo-kit.json"
"$kit" build "$out/demo-kit.json" "$out/demo.vesk-state"
"$kit" print "$out/demo.vesk-state" "$out/demo-state.json"

echo "== the plug-in as a host sees it"
"$host" --plugin "$clap" --describe --track Demo >"$out/plugin.json"

echo "== one render per note"
# key:velocity; every note triggers all pools with a draw of its own
notes="60:1.0 48:0.8 67:0.9 72:0.6"
wavs=()
for n in $notes; do
    key=${n%%:*}
    vel=${n##*:}
    wav="$out/note$key.wav"
    "$host" --plugin "$clap" --load-state "$out/demo.vesk-state" --offline --rate $rate \
        --block 512 --seconds 3 --note "0:$key:$vel" --out "$wav" \
        --json "$out/note$key.json" >/dev/null
    wavs+=("$wav")
done

echo "== summary"
status=0
levels=$("$kit" levels "${wavs[@]}") || status=$?
{
    echo "Halvoren Vesk demo: ${#wavs[@]} notes at $rate Hz from the kit demo-kit.json"
    echo "${levels//$out\//}"
} | tee "$out/summary.txt"
if [ "$status" -ne 0 ]; then
    echo "demo: a render is silent, above full scale or not finite (see $out/summary.txt)" >&2
    exit 1
fi
echo "demo written to $out"
