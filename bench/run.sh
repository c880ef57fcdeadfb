#!/usr/bin/env bash
# Measures the editor's grid on the 1,000,000-row table `big` against its
# peers, all in one run on a throwaway MariaDB server of its own:
#   - store-walk: a plain C client, mysql_store_result, every field walked
#   - mariadb -B -N -e 'SELECT * FROM big' to /dev/null
#   - corvane-bench: the editor's pages, from "Next >" to the last row
# Prints a table, then RESULT lines (the last lines of the output).
#   CORVANE_BENCH_BUILD  build folder (default build-bench; RelWithDebInfo, no sanitizers)
#   CORVANE_BENCH_RUNS   pairs of runs (default 5). The editor and its peer run
#                        one after the other in each pair; a ratio is the
#                        median of the per-pair ratios, shown with its spread,
#                        so a busy shared machine moves both sides of a pair.
# Also measures a table with one 16 MB cell and a table of 1,000 columns x
# 10,000 rows, made here, and sorting, filtering and finding in big
# (corvane-sort-bench; sort_max_stall_ms is the longest window stall during
# those, max_stall_ms the one during the load), and copy, paste and undo in
# big (corvane-clip-bench; its paste and edits are undone before it ends),
# the value panel on 16 MB cells (bench/panel.sh),
# the round trips of the editor's actions over a far network (bench/wan.sh),
# reading big through an SSH tunnel against directly (bench/ssh.sh),
# sign-in and fail-over on a Galera cluster of its own (bench/cluster.sh),
# the import of big's CSV against LOAD DATA LOCAL INFILE (bench/import.sh),
# and foreign keys over a parent of 10,000,000 rows (bench/fk.sh).
# Took 2 minutes plus the build on a busy two-core machine.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
runs=${CORVANE_BENCH_RUNS:-5}
data=${CORVANE_BENCH_DATA:-$repo/../shared/bench/big-table.sql}

bench_build corvane-bench corvane-wait-bench corvane-sort-bench corvane-clip-bench corvane-wan-bench store-walk
bench_work corvane-bench
bench_server
db=bench
client=(mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password")
"${client[@]}" -e "CREATE DATABASE $db CHARACTER SET utf8mb4"
echo "loading $data ..." >&2
"${client[@]}" "$db" <"$data" >/dev/null
echo "making cell16 and wide ..." >&2
"${client[@]}" -e "SET GLOBAL max_allowed_packet = 67108864"
"${client[@]}" "$db" -e "CREATE TABLE cell16 (id INT PRIMARY KEY, note LONGTEXT);
  INSERT INTO cell16 VALUES (1, REPEAT(CONCAT('abcdefgh', UNHEX('C3A9')), 1677722)), (2, 'small')"
cols=$(seq 1 1000 | sed 's/.*/c& INT/' | paste -sd,)
vals=$(seq 1 1000 | sed 's/.*/seq + &/' | paste -sd,)
"${client[@]}" "$db" -e "CREATE TABLE wide ($cols) ENGINE=Aria; INSERT INTO wide SELECT $vals FROM seq_1_to_10000"
# A view whose first row comes after 5 s.
"${client[@]}" "$db" -e "CREATE VIEW slow AS SELECT seq AS id FROM seq_1_to_3 WHERE SLEEP(IF(seq = 1, 5, 0)) = 0"

now() { date +%s%N; }
best() { sort -g | head -1; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f-%.2f", lo, hi }'; }
field() { sed -n "s/^$1=//p"; }
bench() { XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-bench" "$host" "$port" "$user" "$password" "$db" "$1"; }
mkdir -p "$work/home"

store_ms=() cli_ms=() ours=() load_ratios=() rss_ratios=() cli_ratios=()
for i in $(seq 1 "$runs"); do
  out=$("$build/bin/store-walk" "$host" "$port" "$user" "$password" "$db" "SELECT * FROM big")
  s_ms=$(field store_ms <<<"$out")
  store_ms+=("$s_ms")
  raw_bytes=$(field raw_bytes <<<"$out")
  store_rss=$(field peak_rss_kb <<<"$out")
  o=$(bench big)
  ours+=("$o")
  t0=$(now); "${client[@]}" -B -N "$db" -e 'SELECT * FROM big' >/dev/null; t1=$(now)
  c_ms=$(( (t1 - t0) / 1000000 ))
  cli_ms+=("$c_ms")
  load_ratios+=("$(awk -v a="$(field load_ms <<<"$o")" -v b="$s_ms" 'BEGIN { printf "%.4f", a / b }')")
  cli_ratios+=("$(awk -v a="$(field load_ms <<<"$o")" -v b="$c_ms" 'BEGIN { printf "%.4f", a / b }')")
  rss_ratios+=("$(awk -v a="$(field peak_rss_kb <<<"$o")" -v b="$raw_bytes" 'BEGIN { printf "%.4f", a * 1024 / b }')")
done
cell=() wide=() waits=() sorts=() clips=()
wait_bench() { XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-wait-bench" "$host" "$port" "$user" "$password" "$db" "$@"; }
for i in $(seq 1 "$runs"); do
  cell+=("$(bench cell16)")
  wide+=("$(bench wide)")
  waits+=("$(wait_bench slow slow; wait_bench cancel big)")
  sorts+=("$(XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-sort-bench" "$host" "$port" "$user" "$password" "$db" big)")
  clips+=("$(XDG_CONFIG_HOME=$work/home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-clip-bench" "$host" "$port" "$user" "$password" "$db" big)")
done

store=$(printf '%s\n' "${store_ms[@]}" | best)
cli=$(printf '%s\n' "${cli_ms[@]}" | best)
pick() { for o in "${ours[@]}"; do field "$1" <<<"$o"; done | best; }
pickin() { local name=$1; shift; for o in "$@"; do field "$name" <<<"$o"; done | median; }
first=$(pick first_screen_ms) load=$(pick load_ms) rss=$(pick peak_rss_kb) tail=$(pick tail_read_ms) commit=$(pick commit_ms)
stall=$(pick max_stall_ms)
base=$(pick base_rss_kb)
rows=$(field rows <<<"${ours[0]}") selects=$(field commit_selects <<<"${ours[0]}")
cell_first=$(pickin first_screen_ms "${cell[@]}") cell_repaint=$(pickin repaint_ms "${cell[@]}")
wide_first=$(pickin first_screen_ms "${wide[@]}")
slow_stall=$(pickin slow_start_stall_ms "${waits[@]}") back=$(pickin back_ms "${waits[@]}")
cancel=$(pickin cancel_ms "${waits[@]}")
sort_int=$(pickin sort_int_1m_ms "${sorts[@]}") sort_decimal=$(pickin sort_decimal_1m_ms "${sorts[@]}")
sort_text=$(pickin sort_text_1m_ms "${sorts[@]}") filter=$(pickin filter_1m_ms "${sorts[@]}")
find_first=$(pickin find_first_ms "${sorts[@]}") find_next=$(pickin find_next_ms "${sorts[@]}")
view_bytes=$(pickin view_extra_bytes_per_row "${sorts[@]}") sort_stall=$(pickin sort_max_stall_ms "${sorts[@]}")
copy=$(pickin copy_100k_ms "${clips[@]}") copy_stall=$(pickin copy_max_stall_ms "${clips[@]}")
paste=$(pickin paste_1k_rows_ms "${clips[@]}") paste_undo=$(pickin paste_undo_ms "${clips[@]}")
undo=$(pickin undo_ms "${clips[@]}")
load_ratio=$(printf '%s\n' "${load_ratios[@]}" | median) load_spread=$(printf '%s\n' "${load_ratios[@]}" | spread)
cli_ratio=$(printf '%s\n' "${cli_ratios[@]}" | median) cli_spread=$(printf '%s\n' "${cli_ratios[@]}" | spread)
rss_ratio=$(printf '%s\n' "${rss_ratios[@]}" | median) rss_spread=$(printf '%s\n' "${rss_ratios[@]}" | spread)

# The exports, the print program and the round trips over a far network
# (bench/wan.sh, on a server of its own), measured in the same run; their
# RESULT lines join ours at the end.
more=$(
  CORVANE_BENCH_HOST=$host CORVANE_BENCH_PORT=$port CORVANE_BENCH_USER=$user CORVANE_BENCH_PASSWORD=$password \
    CORVANE_BENCH_DATABASE=$db CORVANE_BENCH_BUILD=$build bash "$repo/bench/exports.sh"
  bash "$repo/bench/pdf.sh" "$build"
  CORVANE_BENCH_BUILD=$build bash "$repo/bench/wan.sh"
  CORVANE_BENCH_HOST=$host CORVANE_BENCH_PORT=$port CORVANE_BENCH_USER=$user CORVANE_BENCH_PASSWORD=$password \
    CORVANE_BENCH_DATABASE=$db CORVANE_BENCH_BUILD=$build CORVANE_BENCH_RUNS=$runs bash "$repo/bench/panel.sh"
  CORVANE_BENCH_HOST=$host CORVANE_BENCH_PORT=$port CORVANE_BENCH_USER=$user CORVANE_BENCH_PASSWORD=$password \
    CORVANE_BENCH_DATABASE=$db CORVANE_BENCH_BUILD=$build CORVANE_BENCH_RUNS=$runs bash "$repo/bench/ssh.sh"
  CORVANE_BENCH_BUILD=$build bash "$repo/bench/cluster.sh"
  CORVANE_BENCH_HOST=$host CORVANE_BENCH_PORT=$port CORVANE_BENCH_USER=$user CORVANE_BENCH_PASSWORD=$password \
    CORVANE_BENCH_DATABASE=$db CORVANE_BENCH_BUILD=$build bash "$repo/bench/import.sh"
  CORVANE_BENCH_BUILD=$build bash "$repo/bench/fk.sh"
)
grep -v '^RESULT ' <<<"$more" || true

raw_mib=$(awk -v b="$raw_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
two() { awk -v a="$1" 'BEGIN { printf "%.2f", a }'; }
echo
echo "table big: $rows rows, $raw_mib MiB of field data; $runs interleaved pairs (times: best; ratios: median of pairs, spread min-max)"
printf '%-44s %12s %12s\n' "program" "time ms" "peak MiB"
printf '%-44s %12s %12s\n' "store-walk (C, mysql_store_result)" "$store" "$(awk -v k="$store_rss" 'BEGIN{printf "%.1f", k/1024}')"
printf '%-44s %12s %12s\n' "mariadb -B -N -e 'SELECT * FROM big'" "$cli" "-"
printf '%-44s %12s %12s\n' "editor grid, Next > to last row" "$load" "$(awk -v k="$rss" 'BEGIN{printf "%.1f", k/1024}')"
printf '%-44s %12s\n' "editor grid, first screen" "$first"
printf '%-44s %12s\n' "editor grid, every cell of 50 rows near end" "$tail"
printf '%-44s %12s   (%s SELECT)\n' "editor grid, commit of a one-cell edit" "$commit" "$selects"
printf '%-44s %12s\n' "editor grid, longest stall during the load" "$stall"
printf '%-44s %12s   (spread %s)\n' "load ratio vs store-walk" "$(two "$load_ratio")" "$load_spread"
printf '%-44s %12s   (spread %s)\n' "load ratio vs mariadb -B -N" "$(two "$cli_ratio")" "$cli_spread"
printf '%-44s %12s   (spread %s)\n' "peak memory / raw field data" "$(two "$rss_ratio")" "$rss_spread"
printf '%-44s %12s   (%s MiB before the table)\n' "  (peak - process before Next >) / raw" \
  "$(ratio "$(((rss - base) * 1024))" "$raw_bytes")" "$(awk -v k="$base" 'BEGIN{printf "%.1f", k/1024}')"
printf '%-44s %12s\n' "cell16: Next > to first screen (median)" "$cell_first"
printf '%-44s %12s\n' "cell16: one full repaint (median)" "$cell_repaint"
printf '%-44s %12s\n' "wide 1000x10000: Next > to first screen" "$wide_first"
printf '%-44s %12s   (\"< Back\" %s ms)\n' "slow view (5 s): longest stall (median)" "$slow_stall" "$back"
printf '%-44s %12s\n' "cancel of a running load of big (median)" "$cancel"
printf '%-44s %12s\n' "big: sort by INT column (median)" "$sort_int"
printf '%-44s %12s\n' "big: sort by DECIMAL column (median)" "$sort_decimal"
printf '%-44s %12s\n' "big: sort by VARCHAR column (median)" "$sort_text"
printf '%-44s %12s\n' "big: filter, 3 characters, all columns" "$filter"
printf '%-44s %12s   (first, matches unknown: %s ms)\n' "big: F3 to a match 500,000 rows on" "$find_next" "$find_first"
printf '%-44s %12s\n' "big: sorted view, extra bytes a row" "$view_bytes"
printf '%-44s %12s\n' "big: longest stall, sort/filter/find" "$sort_stall"
printf '%-44s %12s   (longest stall %s ms)\n' "big: copy 100,000 rows x 8 columns (median)" "$copy" "$copy_stall"
printf '%-44s %12s   (its undo %s ms)\n' "big: paste 1,000 rows x 3 columns (median)" "$paste" "$paste_undo"
printf '%-44s %12s\n' "big: undo of a one-cell edit (median)" "$undo"
echo
echo "RESULT first_screen_ms=$first"
echo "RESULT load_ratio_vs_store=$(two "$load_ratio")"
echo "RESULT rss_ratio_vs_raw=$(two "$rss_ratio")"
echo "RESULT tail_read_ms=$tail"
echo "RESULT commit_ms=$commit"
echo "RESULT max_stall_ms=$stall"
echo "RESULT cell_16mb_first_screen_ms=$cell_first"
echo "RESULT cell_16mb_repaint_ms=$cell_repaint"
echo "RESULT wide_1000_first_screen_ms=$wide_first"
echo "RESULT slow_start_stall_ms=$slow_stall"
echo "RESULT cancel_ms=$cancel"
echo "RESULT sort_int_1m_ms=$sort_int"
echo "RESULT sort_decimal_1m_ms=$sort_decimal"
echo "RESULT sort_text_1m_ms=$sort_text"
echo "RESULT filter_1m_ms=$filter"
echo "RESULT find_next_ms=$find_next"
echo "RESULT find_first_ms=$find_first"
echo "RESULT view_extra_bytes_per_row=$view_bytes"
echo "RESULT sort_max_stall_ms=$sort_stall"
echo "RESULT copy_100k_ms=$copy"
echo "RESULT paste_1k_rows_ms=$paste"
echo "RESULT undo_ms=$undo"
grep '^RESULT ' <<<"$more" || true
