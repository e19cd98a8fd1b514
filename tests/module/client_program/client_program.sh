#!/bin/sh
# Builds the client program with only the flags pkg-config gives for the build
# tree, then runs it against the module with a registry of its own.
# Usage: client_program.sh <build dir> <source> <scratch dir> <module> [extra compiler flags]
# (a sanitizer build passes its -fsanitize flags, which the libraries need).
set -eu
build=$1 source=$2 scratch=$3 module=$4 extra=${5:-}
rm -rf "$scratch"
mkdir -p "$scratch"
flags=$(PKG_CONFIG_PATH="$build/pkgconfig" pkg-config --cflags --libs orafon)
c++ -std=c++20 $extra "$source" $flags -o "$scratch/client_program"
ORAFON_REGISTRY="$scratch/registry.db" "$scratch/client_program" "$module"
