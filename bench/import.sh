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
# names a build folder to use; otherwise a Release build is made in
# build-bench. CORVANE_BENCH_SQL names the data set file.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
PATH=$PATH:/usr/sbin

build=${CORVANE_BENCH_BUILD:-}
if [ -z "$build" ]; then
  build=$repo/build-bench
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF -DCORVANE_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target corvane-import-bench >/dev/null
program=$build/bin/corvane-import-bench

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-import-bench.XXXXXX")
envfile=$work/db.env
own_server=0
cleanup() {
  [ "$own_server" = 1 ] && bash "$repo/tests/db-fixture.sh" stop "$envfile" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${CORVANE_BENCH_HOST:-}" ]; then
  sql=${CORVANE_BENCH_SQL:-}
  for f in "$repo/bench/big-table.sql" "$repo/../shared/bench/big-table.sql"; do
    [ -z "$sql" ] && [ -f "$f" ] && sql=$f
  done
  [ -n "$sql" ] || { echo "big-table.sql not found: set CORVANE_BENCH_SQL" >&2; exit 1; }
  own_server=1
  bash "$repo/tests/db-fixture.sh" start "$envfile" >/dev/null
  # shellcheck disable=SC1090
  . "$envfile"
  CORVANE_BENCH_HOST=$CORVANE_DB_HOST CORVANE_BENCH_PORT=$CORVANE_DB_PORT
  CORVANE_BENCH_USER=$CORVANE_DB_USER CORVANE_BENCH_PASSWORD=$CORVANE_DB_PASSWORD
  CORVANE_BENCH_DATABASE=corvane_bench
  echo "Loading $(basename "$sql") into a private server (about a minute)..."
  mariadb --no-defaults -h "$CORVANE_BENCH_HOST" -P "$CORVANE_BENCH_PORT" -u "$CORVANE_BENCH_USER" \
    -p"$CORVANE_BENCH_PASSWORD" -e "CREATE DATABASE IF NOT EXISTS corvane_bench CHARACTER SET utf8mb4"
  mariadb --no-defaults -h "$CORVANE_BENCH_HOST" -P "$CORVANE_BENCH_PORT" -u "$CORVANE_BENCH_USER" \
    -p"$CORVANE_BENCH_PASSWORD" corvane_bench <"$sql" >/dev/null
fi

cli=(mariadb --no-defaults -h "$CORVANE_BENCH_HOST" -P "$CORVANE_BENCH_PORT" -u "$CORVANE_BENCH_USER"
     -p"$CORVANE_BENCH_PASSWORD" "$CORVANE_BENCH_DATABASE")
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }

"$program" "$CORVANE_BENCH_HOST" "$CORVANE_BENCH_PORT" "$CORVANE_BENCH_USER" "$CORVANE_BENCH_PASSWORD" \
  "$CORVANE_BENCH_DATABASE" "$work" >"$work/figures"
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
