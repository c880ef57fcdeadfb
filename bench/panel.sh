#!/usr/bin/env bash
# Benchmark of the value panel: a 16 MB text cell shown, a 1 MB one-line
# JSON value shown pretty-printed, a 16 MB binary value shown as hex, and the
# longest stall while typing into the 16 MB text (median of the runs).
#
# With CORVANE_BENCH_HOST/PORT/USER/PASSWORD/DATABASE set, uses that server;
# otherwise starts a private one with tests/db-fixture.sh. CORVANE_BENCH_BUILD
# names a build folder to use; otherwise a RelWithDebInfo build is made in
# build-bench. Prints RESULT lines.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
PATH=$PATH:/usr/sbin
runs=${CORVANE_BENCH_RUNS:-5}

build=${CORVANE_BENCH_BUILD:-}
if [ -z "$build" ]; then
  build=$repo/build-bench
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=OFF -DCORVANE_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target corvane-panel-bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-panel-bench.XXXXXX")
envfile=$work/db.env
own_server=0
cleanup() {
  [ "$own_server" = 1 ] && bash "$repo/tests/db-fixture.sh" stop "$envfile" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ -n "${CORVANE_BENCH_HOST:-}" ]; then
  host=$CORVANE_BENCH_HOST port=$CORVANE_BENCH_PORT user=$CORVANE_BENCH_USER password=$CORVANE_BENCH_PASSWORD
  db=$CORVANE_BENCH_DATABASE
else
  own_server=1
  bash "$repo/tests/db-fixture.sh" start "$envfile" >/dev/null
  # shellcheck disable=SC1090
  . "$envfile"
  host=$CORVANE_DB_HOST port=$CORVANE_DB_PORT user=$CORVANE_DB_USER password=$CORVANE_DB_PASSWORD db=panelbench
fi
client=(mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password")
"${client[@]}" -e "SET GLOBAL max_allowed_packet = 67108864; CREATE DATABASE IF NOT EXISTS $db CHARACTER SET utf8mb4"
# A fresh session sees the larger packet.
"${client[@]}" "$db" -e "DROP TABLE IF EXISTS panel;
  CREATE TABLE panel (id INT PRIMARY KEY, note LONGTEXT, doc JSON, bytes LONGBLOB);
  INSERT INTO panel VALUES
    (1, REPEAT(CONCAT('abcdefgh', UNHEX('C3A9')), 1677722),
     CONCAT('[', REPEAT('{\"id\":12345,\"name\":\"abcdefgh\",\"price\":1.50e3,\"tags\":[\"x\",\"y\"]},', 16500), '{}]'),
     REPEAT(UNHEX('00FF7F80'), 4194304)),
    (2, 'small', '{}', UNHEX('00'))"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { sed -n "s/^$1=//p"; }
mkdir -p "$work/home"
outs=()
for _ in $(seq 1 "$runs"); do
  outs+=("$(XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-panel-bench" "$host" "$port" "$user" "$password" "$db" panel)")
done
for name in panel_16mb_show_ms panel_json_1mb_pretty_ms panel_typing_stall_ms panel_hex_16mb_show_ms; do
  echo "RESULT $name=$(for o in "${outs[@]}"; do field "$name" <<<"$o"; done | median)"
done
