#!/bin/sh
# Compares the symbols a shared library or module exports with the list it
# should export, one demangled name a line. Left out of the comparison: what
# the sanitizers and the coverage instrumentation add, the linker's own
# __bss_start/_edata/_end, instances of standard-library templates, which
# libstdc++ declares visible whatever the library's default (a debug build
# keeps some as unique symbols), and the type information of built-in types
# (char arrays thrown or checked under the sanitizers), which the compiler
# emits visible for the whole process to share.
#   check_exports.sh LIBRARY EXPECTED [--write]
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $3}' |
  grep -Ev '^_{2,3}(asan|odr_asan|tsan|ubsan|sancov|msan|lsan)|^(__bss_start|_edata|_end)$' | c++filt |
  grep -Ev '^(((typeinfo|typeinfo name|vtable|VTT|guard variable|construction vtable) for )?([^(]* )?std::)' |
  grep -Ev '^typeinfo (name )?for (const )?((un)?signed )?(char|wchar_t|char8_t|char16_t|char32_t|bool|short|int|long|long long|float|double|void)( const)?( \*| \[[0-9]+\])*$' |
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
