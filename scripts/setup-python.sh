#!/usr/bin/env bash
# Makes "import orafon" work for the current user with the package built in
# ${BUILD_DIR:-build}: a .pth file in the user's site-packages points Python
# at build/python (as "pip install -e" would), and the automation server that
# comes with it is registered in the user's registry.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(realpath "${BUILD_DIR:-build}")
python=${PYTHON:-python3}
if [ ! -f "$build_dir/python/orafon/__init__.py" ]; then
  echo "setup-python: $build_dir/python/orafon is missing; build first (scripts/build.sh)" >&2
  exit 1
fi
site=$("$python" -m site --user-site)
mkdir -p "$site"
echo "$build_dir/python" >"$site/orafon-build.pth"
echo "wrote $site/orafon-build.pth"
"$python" -m orafon register
"$python" -c 'import orafon; print("import orafon works:", orafon.__file__)'
