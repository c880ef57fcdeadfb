#!/usr/bin/env bash
# The editor over a far network: how many round trips each action waits for,
# and how long it takes, with every chunk held 5 ms and 25 ms each way (10 ms
# and 50 ms round trips) by the tests' fault proxy (corvane-wan-bench, on
# small tables made here on a throwaway MariaDB server of its own).
# Prints a table, then RESULT lines (the last lines of the output): the
# round trips (rtts) at 50 ms, and times at 50 ms.
#   CORVANE_BENCH_BUILD  build folder (default build-bench; RelWithDebInfo, no sanitizers)
# Took 20 s plus the build; bench/run.sh runs it at its end.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
bench_build corvane-wan-bench
bench_work corvane-wan
bench_server
db=wan
client=(mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password")
# Made anew for each run: a run writes to them.
tables() {
  "${client[@]}" -e "DROP DATABASE IF EXISTS $db; CREATE DATABASE $db CHARACTER SET utf8mb4"
  "${client[@]}" "$db" -e "
    CREATE TABLE keyed (id INT PRIMARY KEY, name VARCHAR(40), qty INT, price DECIMAL(10,2)) ENGINE=InnoDB;
    INSERT INTO keyed SELECT seq, CONCAT('name ', seq), seq * 3, seq / 4 FROM seq_1_to_2100;
    CREATE TABLE nokey (id INT, name VARCHAR(40), qty INT) ENGINE=InnoDB;
    INSERT INTO nokey SELECT seq, CONCAT('name ', seq), seq * 3 FROM seq_1_to_100"
}
# A settings folder of its own for each run: saved sign-in values would sign
# in as the program starts, to the last run's proxy.
wan() { tables; mkdir "$work/home$1"; XDG_CONFIG_HOME=$work/home$1 QT_QPA_PLATFORM=offscreen "$build/bin/corvane-wan-bench" "$host" "$port" "$user" "$password" "$db" "$1"; }
r10=$(wan 5)
r50=$(wan 25)
field() { sed -n "s/^$1=//p" <<<"$2"; }

actions="signin open commit_first commit undo insert delete paste_1k_rows open_again commit_keyless_first commit_keyless connect"
printf '%-22s %12s %12s %12s %12s\n' action "rtts 10 ms" "ms at 10" "rtts 50 ms" "ms at 50"
for a in $actions; do
  printf '%-22s %12s %12s %12s %12s\n' "$a" "$(field "${a}_rtts" "$r10")" "$(field "${a}_ms" "$r10")" \
    "$(field "${a}_rtts" "$r50")" "$(field "${a}_ms" "$r50")"
  [ "$(field "${a}_rtts" "$r10")" = "$(field "${a}_rtts" "$r50")" ] || echo "  ($a: the round trips depend on the delay)"
done
echo
for a in signin open commit commit_keyless insert delete undo paste_1k_rows; do
  echo "RESULT wan_${a}_rtts=$(field "${a}_rtts" "$r50")"
done
echo "RESULT wan_paste_1k_rows_ms_50=$(field paste_1k_rows_ms "$r50")"
echo "RESULT wan_commit_ms_50=$(field commit_ms "$r50")"
echo "RESULT wan_open_ms_50=$(field open_ms "$r50")"
