#!/usr/bin/env bash
# The main job: the default voice speaks a sample text into an MP3 file.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BUILD_DIR:-build}/bin
out=${1:-out/sample.mp3}
if [ ! -x "$bin/orafon" ]; then
  echo "main job: the orafon command is not built yet; only the libraries and tests are." >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
"$bin/orafon" save "Hello from Orafon. This sample was spoken by the default voice." -o "$out"
echo "wrote $out"
