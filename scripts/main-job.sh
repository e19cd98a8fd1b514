#!/usr/bin/env bash
# The main job: the default voice speaks a sample text into an MP3 file, which
# is then wrapped into a SWF movie.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BUILD_DIR:-build}/bin
out=${1:-out/sample.mp3}
mkdir -p "$(dirname "$out")"
"$bin/orafon" save "Hello from Orafon. This sample was spoken by the default voice." -o "$out"
echo "wrote $out"
"$bin/orafon" mp3-to-swf "$out" "${out%.*}.swf"
echo "wrote ${out%.*}.swf"
