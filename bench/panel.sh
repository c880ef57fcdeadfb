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
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
runs=${CORVANE_BENCH_RUNS:-5}
bench_build corvane-panel-bench
bench_work corvane-panel-bench
bench_server
db=${db:-panelbench}
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
