#!/usr/bin/env bash
# The editor at scale, on a throwaway MariaDB server of its own:
#   - 10,000,000 rows of the `big` shape: the editor's load against the C
#     store-walk, in interleaved pairs (the ratio is the median of the pairs,
#     printed with its spread), the peak memory against the raw field data,
#     the longest stall of the window during the load, and a Cancel of a
#     running load.
#   - sign-in to a filled picker with 10,000 tables.
# Too long for every day: making the data takes 5 to 10 minutes (10,000
# CREATE TABLE statements alone took 8 minutes on a busy two-core machine),
# each pair about half a minute, and the machine needs about 4 GB free.
#   CORVANE_BENCH_BUILD  build folder (default build-bench)
#   CORVANE_BENCH_RUNS   pairs (default 5)
#   CORVANE_BENCH_ROWS   rows (default 10000000)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
runs=${CORVANE_BENCH_RUNS:-5}
rows=${CORVANE_BENCH_ROWS:-10000000}

bench_build corvane-bench corvane-wait-bench store-walk
bench_work corvane-scale
bench_server
db=scale
client=(mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password")
"${client[@]}" -e "CREATE DATABASE $db CHARACTER SET utf8mb4; CREATE DATABASE many"
started=$(date +%s)
echo "making $rows rows ..." >&2
# The shape of `big` (bench data set), made in steps of a million rows.
"${client[@]}" "$db" -e "CREATE TABLE big (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL, qty INT NOT NULL,
  price DECIMAL(10,2) NOT NULL, created DATETIME NOT NULL, day DATE NOT NULL, note TEXT NOT NULL,
  maybe VARCHAR(20) NULL) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4"
for ((from = 0; from < rows; from += 1000000)); do
  n=$(( rows - from < 1000000 ? rows - from : 1000000 ))
  "${client[@]}" "$db" -e "INSERT INTO big (name, qty, price, created, day, note, maybe)
  SELECT CONCAT('customer-', LPAD((s * 7919) % 1000003, 7, '0'), '-', CHAR(65 + s % 26)),
    CAST((s * 31337) % 100000 AS SIGNED) - 50000, ((s * 104729) % 10000000) / 100,
    TIMESTAMP('2020-01-01 00:00:00') + INTERVAL ((s * 7907) % 157680000) SECOND,
    DATE('2000-01-01') + INTERVAL ((s * 13) % 9000) DAY,
    CONCAT('note ', s, ' ', LEFT(MD5(s), 24), ' lorem ipsum dolor sit amet'),
    IF(s % 10 = 3, NULL, CONCAT('m', (s * 17) % 99991))
  FROM (SELECT seq + $from AS s FROM seq_1_to_$n) q"
done
echo "making 10,000 tables ..." >&2
seq 1 10000 | sed 's/.*/CREATE TABLE t&_of_many (id INT) ENGINE=Aria;/' | "${client[@]}" many
echo "data made in $(( $(date +%s) - started )) s" >&2

field() { sed -n "s/^$1=//p"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f-%.2f", lo, hi }'; }
run() { XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/$1" "$host" "$port" "$user" "$password" "${@:2}"; }
mkdir -p "$work/home"

load_ratios=() rss_ratios=() stalls=() cancels=() pickers=() lines=()
for i in $(seq 1 "$runs"); do
  s=$(run store-walk "$db" "SELECT * FROM big")
  o=$(run corvane-bench "$db" big)
  raw=$(field raw_bytes <<<"$s")
  lr=$(awk -v a="$(field load_ms <<<"$o")" -v b="$(field store_ms <<<"$s")" 'BEGIN { printf "%.4f", a / b }')
  rr=$(awk -v a="$(field peak_rss_kb <<<"$o")" -v b="$raw" 'BEGIN { printf "%.4f", a * 1024 / b }')
  load_ratios+=("$lr") rss_ratios+=("$rr") stalls+=("$(field max_stall_ms <<<"$o")")
  cancels+=("$(run corvane-wait-bench "$db" cancel big | field cancel_ms)")
  pickers+=("$(run corvane-wait-bench many picker | field picker_ms)")
  lines+=("$(printf '%-6s %12s %12s %8s %8s %10s' "$i" "$(field store_ms <<<"$s")" "$(field load_ms <<<"$o")" "$lr" "$rr" "${stalls[-1]}")")
done

echo
echo "big, $rows rows, $(awk -v b="$raw" 'BEGIN { printf "%.0f", b / 1048576 }') MiB of field data; $runs interleaved pairs"
printf '%-6s %12s %12s %8s %8s %10s\n' "pair" "store ms" "editor ms" "load" "rss" "stall ms"
printf '%s\n' "${lines[@]}"
printf '%-44s %8s   (spread %s)\n' "load ratio vs store-walk (median)" "$(printf '%s\n' "${load_ratios[@]}" | median)" "$(printf '%s\n' "${load_ratios[@]}" | spread)"
printf '%-44s %8s   (spread %s)\n' "peak memory / raw field data (median)" "$(printf '%s\n' "${rss_ratios[@]}" | median)" "$(printf '%s\n' "${rss_ratios[@]}" | spread)"
echo "total time $(( $(date +%s) - started )) s" >&2
echo
echo "RESULT picker_10k_tables_ms=$(printf '%s\n' "${pickers[@]}" | median)"
echo "RESULT load_10m_ratio_vs_store=$(printf '%s\n' "${load_ratios[@]}" | median | awk '{ printf "%.2f", $1 }')"
echo "RESULT rss_10m_ratio_vs_raw=$(printf '%s\n' "${rss_ratios[@]}" | median | awk '{ printf "%.2f", $1 }')"
echo "RESULT max_stall_ms=$(printf '%s\n' "${stalls[@]}" | median)"
echo "RESULT cancel_ms=$(printf '%s\n' "${cancels[@]}" | median)"
