#!/usr/bin/env bash
# The editor through an SSH tunnel against a direct connection, in one run:
# a private sshd on loopback (openssh-server) forwards to the server, and
# corvane-ssh-bench reads the table `big` (1,000,000 rows) both ways in
# interleaved pairs and opens connections both ways (the first through the
# tunnel starts ssh). Prints RESULT lines: ssh_load_ratio_vs_direct (tunnel /
# direct, median of pairs) and ssh_open_extra_ms (median).
#
# With CORVANE_BENCH_HOST/PORT/USER/PASSWORD/DATABASE set, uses that server,
# which must hold `big`; otherwise starts a private server with
# tests/db-fixture.sh and makes `big` there (8 columns, from the SEQUENCE
# engine). CORVANE_BENCH_BUILD names a build folder; CORVANE_BENCH_RUNS the
# pairs (default 5). Needs root for sshd's /run/sshd when it is missing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
. "$repo/bench/common.sh"
runs=${CORVANE_BENCH_RUNS:-5}
bench_build corvane-ssh-bench
bench_work corvane-ssh-bench
sshd_pid=""
bench_cleanup_hook() { [ -z "$sshd_pid" ] || kill "$sshd_pid" 2>/dev/null; }
bench_server
if [ "$own_server" = 1 ]; then
  db=bench
  mariadb --no-defaults -h"$host" -P"$port" -u"$user" -p"$password" -e "CREATE DATABASE $db; USE $db;
    CREATE TABLE big (id INT PRIMARY KEY, a INT, b BIGINT, c VARCHAR(40), d DECIMAL(10,2), e DATE, f DOUBLE,
      g VARCHAR(40)) SELECT seq AS id, seq % 1000 AS a, seq * 7 AS b, CONCAT('name ', seq) AS c, seq / 8 AS d,
      '2020-01-01' + INTERVAL (seq % 3000) DAY AS e, seq / 3 AS f, MD5(seq) AS g FROM seq_1_to_1000000"
fi

# sshd with a host key made now, letting in a key made now.
mkdir -p /run/sshd 2>/dev/null || true
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
sshd_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
cat >"$work/sshd_config" <<CONF
Port $sshd_port
ListenAddress 127.0.0.1
HostKey $work/host_key
AuthorizedKeysFile $work/user_key.pub
PidFile $work/sshd.pid
StrictModes no
UsePAM no
AllowTcpForwarding yes
AllowStreamLocalForwarding yes
CONF
/usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
sshd_pid=$!
echo "[127.0.0.1]:$sshd_port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/known_hosts"
cat >"$work/client_config" <<CONF
Host *
  UserKnownHostsFile $work/known_hosts
  IdentityFile $work/user_key
  IdentitiesOnly yes
CONF
mkdir "$work/bin"
printf '#!/bin/sh\nexec %s -F %s "$@"\n' "$(command -v ssh)" "$work/client_config" >"$work/bin/ssh"
chmod +x "$work/bin/ssh"
for _ in $(seq 1 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $sshd_port))" 2>/dev/null && break
  sleep 0.05
done

out=$(PATH=$work/bin:$PATH XDG_RUNTIME_DIR=$work "$build/bin/corvane-ssh-bench" "$host" "$port" "$user" "$password" \
  "$db" big "$(id -un)@127.0.0.1:$sshd_port" "$runs")
field() { sed -n "s/^$1=//p" <<<"$out"; }
printf '%-44s %12s\n' "ssh: read big, direct (median)" "$(field direct_load_ms)"
printf '%-44s %12s\n' "ssh: read big, through the tunnel (median)" "$(field tunnel_load_ms)"
echo "RESULT ssh_load_ratio_vs_direct=$(awk -v a="$(field load_ratio)" 'BEGIN { printf "%.2f", a }')"
echo "RESULT ssh_open_extra_ms=$(field open_extra_ms)"
