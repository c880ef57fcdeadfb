#!/usr/bin/env bash
# The editor on a three-node Galera cluster of its own (tests/galera-fixture.sh):
# sign-in when the first host of the list is a black hole, and the time from
# killing the node in use to the next edit written on another node.
# Prints RESULT lines: multi_host_signin_ms (goal <= 600),
# failover_write_ms (the node in use killed; goal <= 1000) and
# failover_stop_write_ms (the next node stopped cleanly), each beside the
# cluster's own share (failover_cluster_ms, failover_stop_cluster_ms: a write
# by a session on the third node). Galera's default is to give up on a dead
# peer after 5 s (evs.suspect_timeout); the fixture's cluster after 2 s.
# CORVANE_GALERA_EVS gives the cluster other evs timings; with a suspect
# timeout of 0.6 s the nodes suspected each other while they joined and the
# cluster did not form, on a quiet two-core machine as on a loaded one.
# CORVANE_BENCH_BUILD names a build folder. About 2 minutes, most of it the
# cluster's start.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
bench_build corvane-cluster-bench

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-cluster-bench.XXXXXX")
envfile=$work/galera.env
cleanup() { bash "$repo/tests/galera-fixture.sh" stop "$envfile" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
bash "$repo/tests/galera-fixture.sh" start "$envfile" >/dev/null
# shellcheck disable=SC1090
. "$envfile"
mariadb --no-defaults -h127.0.0.1 -P"$CORVANE_GALERA_PORT1" -ucorvane -ptest-pass -e "CREATE DATABASE bench"
out=$("$build/bin/corvane-cluster-bench" "$CORVANE_GALERA_DIR" "$CORVANE_GALERA_PORT1" "$CORVANE_GALERA_PORT2" \
  "$CORVANE_GALERA_PORT3" corvane test-pass bench)
echo "$out" >&2
for key in multi_host_signin_ms failover_write_ms failover_cluster_ms failover_stop_write_ms failover_stop_cluster_ms; do
  echo "RESULT $key=$(sed -n "s/^$key=//p" <<<"$out")"
done
