#!/bin/sh
# Builds and runs a client with the flags pkg-config gives for the build tree.
# Usage: pkgconfig_client.sh <build dir> <client source> <scratch dir> [extra compiler flags]
# (a sanitizer build passes its -fsanitize flags, which the library needs).
set -eu
build=$1 source=$2 scratch=$3 extra=${4:-}
mkdir -p "$scratch"
flags=$(PKG_CONFIG_PATH="$build/pkgconfig" pkg-config --cflags --libs orafon)
c++ -std=c++20 $extra "$source" $flags -o "$scratch/client"
ORAFON_REGISTRY="$scratch/registry.db" "$scratch/client" | grep -qx '{00000001-0000-0000-C000-000000000046}'
