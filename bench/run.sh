#!/usr/bin/env bash
# Measures the editor's grid on the 1,000,000-row table `big` against its
# peers, all in one run on a throwaway MariaDB server of its own:
#   - store-walk: a plain C client, mysql_store_result, every field walked
#   - mariadb -B -N -e 'SELECT * FROM big' to /dev/null
#   - corvane-bench: the editor's pages, from "Next >" to the last row
# Prints a table, then RESULT lines (the last lines of the output).
#   CORVANE_BENCH_BUILD  build folder (default build-bench; RelWithDebInfo, no sanitizers)
#   CORVANE_BENCH_RUNS   runs of each program, the best counts (default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BENCH_BUILD:-$root/build-bench}
runs=${CORVANE_BENCH_RUNS:-3}
data=${CORVANE_BENCH_DATA:-$root/../shared/bench/big-table.sql}
PATH=$PATH:/usr/sbin

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target corvane-bench store-walk >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench.XXXXXX")
envfile=$work/db.env
cleanup() { bash "$root/tests/db-fixture.sh" stop "$envfile" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
bash "$root/tests/db-fixture.sh" start "$envfile" >/dev/null
# shellcheck disable=SC1090
. "$envfile"
host=$CORVANE_DB_HOST port=$CORVANE_DB_PORT user=$CORVANE_DB_USER password=$CORVANE_DB_PASSWORD db=bench
client=(mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password")
"${client[@]}" -e "CREATE DATABASE $db CHARACTER SET utf8mb4"
echo "loading $data ..." >&2
"${client[@]}" "$db" <"$data" >/dev/null

now() { date +%s%N; }
best() { sort -g | head -1; }
field() { sed -n "s/^$1=//p"; }

store_ms=() cli_ms=() ours=()
for i in $(seq 1 "$runs"); do
  out=$("$build/bin/store-walk" "$host" "$port" "$user" "$password" "$db" "SELECT * FROM big")
  store_ms+=("$(field store_ms <<<"$out")")
  raw_bytes=$(field raw_bytes <<<"$out")
  store_rss=$(field peak_rss_kb <<<"$out")
  t0=$(now); "${client[@]}" -B -N "$db" -e 'SELECT * FROM big' >/dev/null; t1=$(now)
  cli_ms+=("$(( (t1 - t0) / 1000000 ))")
  home=$work/home$i
  mkdir -p "$home"
  ours+=("$(XDG_CONFIG_HOME=$home QT_QPA_PLATFORM=offscreen "$build/bin/corvane-bench" "$host" "$port" "$user" "$password" "$db" big)")
done

store=$(printf '%s\n' "${store_ms[@]}" | best)
cli=$(printf '%s\n' "${cli_ms[@]}" | best)
pick() { for o in "${ours[@]}"; do field "$1" <<<"$o"; done | best; }
first=$(pick first_screen_ms) load=$(pick load_ms) rss=$(pick peak_rss_kb) tail=$(pick tail_read_ms) commit=$(pick commit_ms)
base=$(pick base_rss_kb)
rows=$(field rows <<<"${ours[0]}") selects=$(field commit_selects <<<"${ours[0]}")

# The exports and the print program, measured in the same run; their RESULT
# lines join ours at the end.
more=$(
  CORVANE_BENCH_HOST=$host CORVANE_BENCH_PORT=$port CORVANE_BENCH_USER=$user CORVANE_BENCH_PASSWORD=$password \
    CORVANE_BENCH_DATABASE=$db CORVANE_BENCH_BUILD=$build bash "$root/bench/exports.sh"
  bash "$root/bench/pdf.sh" "$build"
)
grep -v '^RESULT ' <<<"$more" || true

raw_mib=$(awk -v b="$raw_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "table big: $rows rows, $raw_mib MiB of field data; best of $runs runs"
printf '%-44s %12s %12s\n' "program" "time ms" "peak MiB"
printf '%-44s %12s %12s\n' "store-walk (C, mysql_store_result)" "$store" "$(awk -v k="$store_rss" 'BEGIN{printf "%.1f", k/1024}')"
printf '%-44s %12s %12s\n' "mariadb -B -N -e 'SELECT * FROM big'" "$cli" "-"
printf '%-44s %12s %12s\n' "editor grid, Next > to last row" "$load" "$(awk -v k="$rss" 'BEGIN{printf "%.1f", k/1024}')"
printf '%-44s %12s\n' "editor grid, first screen" "$first"
printf '%-44s %12s\n' "editor grid, every cell of 50 rows near end" "$tail"
printf '%-44s %12s   (%s SELECT)\n' "editor grid, commit of a one-cell edit" "$commit" "$selects"
printf '%-44s %12s\n' "load ratio vs store-walk" "$(ratio "$load" "$store")"
printf '%-44s %12s\n' "load ratio vs mariadb -B -N" "$(ratio "$load" "$cli")"
printf '%-44s %12s\n' "peak memory / raw field data" "$(ratio "$((rss * 1024))" "$raw_bytes")"
printf '%-44s %12s   (%s MiB before the table)\n' "  (peak - process before Next >) / raw" \
  "$(ratio "$(((rss - base) * 1024))" "$raw_bytes")" "$(awk -v k="$base" 'BEGIN{printf "%.1f", k/1024}')"
echo
echo "RESULT first_screen_ms=$first"
echo "RESULT load_ratio_vs_store=$(ratio "$load" "$store")"
echo "RESULT rss_ratio_vs_raw=$(ratio "$((rss * 1024))" "$raw_bytes")"
echo "RESULT tail_read_ms=$tail"
echo "RESULT commit_ms=$commit"
grep '^RESULT ' <<<"$more" || true
