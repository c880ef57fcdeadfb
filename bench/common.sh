# Sourced by the bench scripts after they set `repo`. Gives:
#   build                the build folder: CORVANE_BENCH_BUILD, else build-bench
#   bench_build T...     builds the bench programs T (configuring build-bench as
#                        RelWithDebInfo without sanitizers, the same for every
#                        script, so that running one after another rebuilds
#                        nothing)
#   bench_work NAME      makes the temporary folder $work (and $envfile in it);
#                        at exit, bench_cleanup_hook (when the script defines
#                        one) runs, a private server is stopped, $work removed
#   bench_server         host, port, user, password of the server to use:
#                        CORVANE_BENCH_HOST/PORT/USER/PASSWORD (and DATABASE,
#                        as db) when set, else a private server started now
#                        with tests/db-fixture.sh (own_server=1)
#   bench_load_big DB    loads the data set (CORVANE_BENCH_SQL, else
#                        big-table.sql in bench/ or ../shared/bench/) into DB
# shellcheck shell=bash disable=SC2034,SC2153
PATH=$PATH:/usr/sbin
build=${CORVANE_BENCH_BUILD:-$repo/build-bench}
own_server=0

bench_build() {
  if [ -z "${CORVANE_BENCH_BUILD:-}" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=OFF \
      -DCORVANE_BENCH=ON >/dev/null
  fi
  cmake --build "$build" -j2 --target "$@" >/dev/null
}

bench_cleanup() {
  if declare -F bench_cleanup_hook >/dev/null; then bench_cleanup_hook || true; fi
  if [ "$own_server" = 1 ]; then bash "$repo/tests/db-fixture.sh" stop "$envfile" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}

bench_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  envfile=$work/db.env
  trap bench_cleanup EXIT
}

bench_server() {
  if [ -n "${CORVANE_BENCH_HOST:-}" ]; then
    host=$CORVANE_BENCH_HOST port=$CORVANE_BENCH_PORT user=$CORVANE_BENCH_USER password=$CORVANE_BENCH_PASSWORD
    db=${CORVANE_BENCH_DATABASE:-}
    return
  fi
  own_server=1
  bash "$repo/tests/db-fixture.sh" start "$envfile" >/dev/null
  # shellcheck disable=SC1090
  . "$envfile"
  host=$CORVANE_DB_HOST port=$CORVANE_DB_PORT user=$CORVANE_DB_USER password=$CORVANE_DB_PASSWORD
}

bench_load_big() {
  local sql=${CORVANE_BENCH_SQL:-} f
  for f in "$repo/bench/big-table.sql" "$repo/../shared/bench/big-table.sql"; do
    if [ -z "$sql" ] && [ -f "$f" ]; then sql=$f; fi
  done
  [ -n "$sql" ] || { echo "big-table.sql not found: set CORVANE_BENCH_SQL" >&2; exit 1; }
  echo "Loading $(basename "$sql") into $1 (about a minute)..." >&2
  mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password" \
    -e "CREATE DATABASE IF NOT EXISTS \`$1\` CHARACTER SET utf8mb4"
  mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password" "$1" <"$sql" >/dev/null
}
