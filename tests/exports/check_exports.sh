#!/bin/sh
# Compares the symbols a shared library or module exports with the list it
# should export, one demangled name a line. Left out of the comparison: what
# the sanitizers and the coverage instrumentation add, and the linker's own
# __bss_start/_edata/_end. Standard-library template instances and built-in
# types' type information are kept inside each library by the linker
# (cmake/LocalSymbols.map), so any of them here is a leak like any other.
#   check_exports.sh LIBRARY EXPECTED [--write]
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $3}' |
  grep -Ev '^_{2,3}(asan|odr_asan|tsan|ubsan|sancov|msan|lsan)|^(__bss_start|_edata|_end)$' | c++filt |
  LC_ALL=C sort -u)
if [ "${3:-}" = "--write" ]; then
  printf '%s\n' "$actual" > "$expected"
  exit 0
fi
if ! printf '%s\n' "$actual" | diff -u "$expected" - ; then
  echo "$(basename "$library") exports other symbols than $(basename "$expected") lists" \
       "(+ exported but not listed, - listed but not exported)" >&2
  exit 1
fi
