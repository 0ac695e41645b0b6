#!/usr/bin/env bash
# Installs what is missing, builds, and runs the command-line front end
# with the arguments given, e.g.:
#   ./run.sh --find old --replace new --dry-run ~/project
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
sudo_if_needed "$here/.ci/install-deps" >&2
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build "$here/build" --target vellumshaper-cli >&2
exec "$here/build/cli/vellumshaper-cli" "$@"
