#!/usr/bin/env bash
# Takes the README's screenshots into docs/: the real pages under Xvfb,
# signed in to the demo server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --docs
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target corvane-shots schema-shots
bash scripts/demo-server.sh start
home=${CORVANE_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/corvane-demo}
# shellcheck disable=SC1091
. "$home/signin.env"
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config python3 scripts/store-signin.py "$CORVANE_DEMO_SERVER" "$CORVANE_DEMO_PORT" \
  "$CORVANE_DEMO_USER" "$CORVANE_DEMO_PASSWORD" "$CORVANE_DEMO_DATABASE"
env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$config" \
  xvfb-run -a -s '-screen 0 1280x1024x24' build/bin/corvane-shots docs
# The two dialogs, filled in as a user would have them.
env -u QT_QPA_PLATFORM xvfb-run -a -s '-screen 0 1280x1024x24' build/bin/schema-shots docs
