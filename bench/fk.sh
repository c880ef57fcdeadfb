#!/usr/bin/env bash
# Foreign keys over a parent of 10,000,000 rows, on a private server: makes
# `town` (id, name indexed, region) and `shop` (100,000 rows, each referring
# to a town spread over all of them), then runs corvane-fk-bench once.
# Prints RESULT lines: fk_labels_screen_ms, fk_picker_first_ms (the slowest
# keystroke), fk_goto_ms, fk_max_stall_ms. Making the tables takes about a
# minute. CORVANE_BENCH_BUILD names a build folder.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
bench_build corvane-fk-bench
bench_work corvane-fk-bench
bench_server
db=fkbench
echo "making town (10,000,000 rows) and shop ..." >&2
mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password" -e "CREATE DATABASE $db; USE $db;
  SET GLOBAL innodb_buffer_pool_size = 1073741824;
  CREATE TABLE town (id INT PRIMARY KEY, name VARCHAR(40), region VARCHAR(20)) ENGINE=InnoDB;
  INSERT INTO town SELECT seq, CONCAT('town ', seq), CONCAT('region ', seq % 50) FROM seq_1_to_10000000;
  ALTER TABLE town ADD KEY (name);
  CREATE TABLE shop (id INT PRIMARY KEY, town INT, note VARCHAR(20),
    FOREIGN KEY (town) REFERENCES town (id)) ENGINE=InnoDB;
  INSERT INTO shop SELECT seq, (seq * 7919) % 10000000 + 1, CONCAT('shop ', seq) FROM seq_1_to_100000"
mkdir -p "$work/home"
out=$(XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-fk-bench" "$host" "$port" "$user" "$password" "$db")
echo "$out" >&2
for k in fk_labels_screen_ms fk_picker_first_ms fk_goto_ms fk_goto_row fk_goto_loaded_ms fk_goto_row_loaded fk_goto_kept fk_max_stall_ms; do
  echo "RESULT $k=$(sed -n "s/^$k=//p" <<<"$out")"
done
