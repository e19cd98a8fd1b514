#!/usr/bin/env bash
# Installs the Debian packages Orafon builds and tests with. Idempotent.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev
  libespeak-ng-dev espeak-ng flite1-dev flite
  libpulse-dev libasound2-dev
  pulseaudio pulseaudio-utils libasound2-plugins
  libsoxr-dev libmp3lame-dev lame libsndfile1-dev libvorbis-dev libogg-dev libflac-dev
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
  ffmpeg sox flac vorbis-tools mediainfo mp3val
  python3-dev pybind11-dev python3-pytest python3-setuptools python3-wheel python3-pip python3-venv
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
