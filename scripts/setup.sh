#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Orafon and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
scripts/main-job.sh "$@"
scripts/setup-python.sh
