#!/usr/bin/env bash
# Benchmark of the import on the table `big` (1,000,000 rows): our CSV
# export of it imported into an empty copy, against LOAD DATA LOCAL INFILE
# of the same file into another empty copy, in the same run; the first
# 100,000 rows through our xlsx export and back; and the longest the
# window stood still meanwhile. One run of each (the machine may be shared:
# say so with the figures).
#
# With CORVANE_BENCH_HOST/PORT/USER/PASSWORD/DATABASE set, uses that server,
# which must hold `big` already; otherwise starts a private server with
# tests/db-fixture.sh and loads the data set into it. CORVANE_BENCH_BUILD
# names a build folder to use; otherwise build-bench is built.
# CORVANE_BENCH_SQL names the data set file.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
bench_build corvane-import-bench
program=$build/bin/corvane-import-bench
bench_work corvane-import-bench
bench_server
if [ "$own_server" = 1 ]; then db=corvane_bench; bench_load_big "$db"; fi
cli=(mariadb --no-defaults -h "$host" -P "$port" -u "$user" -p"$password" "$db")
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

"$program" "$host" "$port" "$user" "$password" "$db" "$work" >"$work/figures"
val() { sed -n "s/^$1=//p" "$work/figures"; }

# The server's own loading of the same file, into an empty copy.
"${cli[@]}" -e 'DROP TABLE IF EXISTS big_ld; CREATE TABLE big_ld LIKE big'
t0=$(now)
"${cli[@]}" --local-infile=1 -e "LOAD DATA LOCAL INFILE '$work/big.csv' INTO TABLE big_ld
  FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' LINES TERMINATED BY '\r\n' IGNORE 1 LINES"
load_ms=$(calc "($(now) - $t0) * 1000")
rows=$("${cli[@]}" -B -N -e 'SELECT (SELECT COUNT(*) FROM big_import), (SELECT COUNT(*) FROM big_ld)')
same=$("${cli[@]}" -B -N -e 'SELECT (SELECT COUNT(*) FROM big_import b JOIN big USING (id)
  WHERE NOT (b.name <=> big.name AND b.qty <=> big.qty AND b.price <=> big.price AND b.created <=> big.created
  AND b.day <=> big.day AND b.note <=> big.note AND b.maybe <=> big.maybe)) = 0')
"${cli[@]}" -e 'DROP TABLE IF EXISTS big_ld, big_import, big_xlsx'

printf '\nImport of big (rows imported, rows LOAD DATA loaded: %s; equal to big: %s)\n' "$rows" "$same"
printf '  %-40s %10.0f ms\n' "import of the 1,000,000-row CSV" "$(val import_csv_ms)" \
  "LOAD DATA LOCAL INFILE, same file" "$load_ms" "import of a 100,000-row xlsx" "$(val import_xlsx_100k_ms)"
printf 'RESULT import_1m_ratio_vs_load_data=%.2f (target <= 1.5)\n' "$(calc "$(val import_csv_ms) / $load_ms")"
printf 'RESULT import_xlsx_100k_ms=%s (target <= 5000)\n' "$(val import_xlsx_100k_ms)"
printf 'RESULT import_max_stall_ms=%s (target <= 50)\n' "$(val import_max_stall_ms)"
