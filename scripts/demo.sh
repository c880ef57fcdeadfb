#!/usr/bin/env bash
# Quick start: installs what is missing, builds, starts the throwaway MariaDB
# server with the sample database, stores its sign-in values and starts the
# editor, which signs in by itself and shows the table picker.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TESTS=OFF >/dev/null
cmake --build build-release --target corvane-editor corvane-print
bash scripts/demo-server.sh start
home=${CORVANE_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/corvane-demo}
# shellcheck disable=SC1091
. "$home/signin.env"
python3 scripts/store-signin.py "$CORVANE_DEMO_SERVER" "$CORVANE_DEMO_PORT" "$CORVANE_DEMO_USER" \
  "$CORVANE_DEMO_PASSWORD" "$CORVANE_DEMO_DATABASE"
echo "Starting the editor. Stop the demo server later with: bash scripts/demo-server.sh stop"
exec build-release/bin/corvane-editor
