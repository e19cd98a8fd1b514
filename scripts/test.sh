#!/usr/bin/env bash
# Builds and runs the whole test suite with a registry of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/build.sh "$@"
export ORAFON_REGISTRY="$(mktemp -d)/registry.db"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 600
