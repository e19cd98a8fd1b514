#!/usr/bin/env bash
# Builds one libFuzzer target (clang, ASan + UBSan, in ${FUZZ_BUILD_DIR:-build-fuzz})
# and runs it for SECONDS (default 60) from its seed corpus. New inputs go to
# ${FUZZ_BUILD_DIR}/corpus/TARGET, findings to ${FUZZ_BUILD_DIR}/findings/TARGET;
# the exit status is non-zero when the run found anything.
#   scripts/fuzz.sh fuzz_sapi5_markup 300
#   scripts/fuzz.sh --list
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}

configure() {
  if [ ! -f "$build_dir/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DORAFON_FUZZ=ON \
      -DORAFON_BUILD_TESTS=OFF -DORAFON_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
}

if [ "${1:-}" = "--list" ]; then
  ls fuzz/fuzz_*.cpp | xargs -n1 basename | sed 's/\.cpp$//'
  exit 0
fi
if [ $# -lt 1 ]; then
  echo "usage: scripts/fuzz.sh TARGET [SECONDS] | --list" >&2
  exit 2
fi
target=$1
seconds=${2:-60}
[ -f "fuzz/$target.cpp" ] || { echo "no fuzz target $target" >&2; exit 2; }

configure
# Ninja reports compile errors on standard output: keep them for a failure.
if ! build_log=$(cmake --build "$build_dir" --target "$target" 2>&1); then
  echo "$build_log" | tail -n 60 >&2
  exit 1
fi

corpus="$build_dir/corpus/$target"
findings="$build_dir/findings/$target"
# The target runs in a folder of its own: a member that writes files can be
# handed a relative name (a number converted to text), which must not land
# in the checkout.
workdir="$build_dir/work/$target"
mkdir -p "$corpus" "$findings" "$workdir"
corpus=$(cd "$corpus" && pwd)
findings=$(cd "$findings" && pwd)
program="$(cd "$build_dir/bin" && pwd)/$target"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
seeds=()
[ -d "fuzz/corpus/$target" ] && seeds=("$PWD/fuzz/corpus/$target")
cd "$workdir"
# One job; a finding stops the run with a non-zero status and leaves the input
# in $findings.
exec "$program" "$corpus" "${seeds[@]}" \
  -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="$findings/"
