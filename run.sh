#!/usr/bin/env bash
# Installs what is missing, builds, and runs Vellumshaper. With no
# arguments it starts the dialog; with arguments it runs the command-line
# front end with them, e.g.:
#   ./run.sh
#   ./run.sh --find old --replace new --dry-run ~/project
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
sudo_if_needed "$here/.ci/install-deps" >&2
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
if [ "$#" -eq 0 ]; then
  cmake --build "$here/build" --target vellumshaper >&2
  exec "$here/build/ui/vellumshaper"
fi
cmake --build "$here/build" --target vellumshaper-cli >&2
exec "$here/build/cli/vellumshaper-cli" "$@"
