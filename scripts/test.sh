#!/usr/bin/env bash
# Builds and runs the whole test suite with a registry of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/build.sh "$@"
export ORAFON_REGISTRY="$(mktemp -d)/registry.db"
if ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 600; then
  exit 0
fi
# Where only the end of this output is kept, it should still say what failed:
# the first lines of each failed assertion, last.
echo "---- failed assertions ----"
{
  grep -h -A5 -E ': Failure$' "$build_dir/Testing/Temporary/LastTest.log"
  grep -h -B4 -E 'exports other symbols' "$build_dir/Testing/Temporary/LastTest.log"
} 2>/dev/null | grep -v -E '^--$|^\[' | cut -c1-200 | head -n 16 || true
exit 1
