#!/usr/bin/env bash
# Starts or stops a private three-node Galera cluster of MariaDB servers.
#   galera-fixture.sh start ENVFILE  - three nodes on free loopback ports in a
#                                      temporary folder; writes ENVFILE
#   galera-fixture.sh stop ENVFILE   - stops them and removes the folder
#   galera-fixture.sh node ENVFILE N start|stop
#                                    - one node (1-3) again, for tests that
#                                      kill a node and want it back
# Nodes run as the mysql user with their folders owned by it (the joiner's
# rsync state transfer cannot read folders of root). The cluster also stops
# by itself when the ctest run that started it ends.
set -euo pipefail
cmd=$1
envfile=$2
PATH=$PATH:/usr/sbin

provider=""
for p in /usr/lib/galera/libgalera_smm.so /usr/lib/libgalera_smm.so /usr/lib/galera-4/libgalera_smm.so; do
  [ -f "$p" ] && provider=$p && break
done

asmysql() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=mysql --regid=mysql --init-groups "$@"
  else
    "$@"
  fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

stop_node() { # DIR
  [ -f "$1/pid" ] || return 0
  local pid
  pid=$(cat "$1/pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$1/pid"
}

stop_all() {
  [ -f "$envfile" ] || return 0
  # shellcheck disable=SC1090
  . "$envfile"
  if [ -n "${CORVANE_GALERA_WATCHDOG:-}" ]; then kill "$CORVANE_GALERA_WATCHDOG" 2>/dev/null || true; fi
  for n in 3 2 1; do stop_node "$CORVANE_GALERA_DIR/n$n" & done
  wait
  rm -rf "$CORVANE_GALERA_DIR"
  rm -f "$envfile"
}

start_node() { # N [--wsrep-new-cluster]
  local n=$1 d="$CORVANE_GALERA_DIR/n$1" port group ist sst
  port=$(eval echo "\$CORVANE_GALERA_PORT$n")
  group=$(eval echo "\$CORVANE_GALERA_GROUP$n")
  ist=$((group + 1)); sst=$((group + 2))
  shift
  # A node that died is told from one that is slow within two seconds, not
  # the default five (a test kills nodes on purpose). CORVANE_GALERA_EVS sets
  # other timings (the bench's, on a quiet machine).
  local evs=${CORVANE_GALERA_EVS:-"evs.suspect_timeout=PT2S;evs.inactive_timeout=PT3S;evs.keepalive_period=PT0.5S;evs.inactive_check_period=PT0.5S"}
  rm -f "$d/data/grastate.dat.lock"
  # A temporary folder of its own: the caller's TMPDIR (a test's) may be
  # closed to the mysql user, and the state transfer writes there.
  mkdir -p "$d/tmp"
  chown mysql:mysql "$d/tmp" 2>/dev/null || true
  setsid bash -c "$(declare -f asmysql); TMPDIR='$d/tmp' asmysql mariadbd --no-defaults --datadir='$d/data' --socket='$d/sock' \
    --port=$port --bind-address=127.0.0.1 --pid-file='$d/pid' --log-error='$d/error.log' --user=mysql --tmpdir='$d/tmp' \
    --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=2 --binlog-format=ROW \
    --innodb-autoinc-lock-mode=2 --wsrep-on=ON --wsrep-provider='$provider' --wsrep-sst-method=rsync \
    --wsrep-cluster-name=corvane --wsrep-node-address=127.0.0.1:$group --wsrep-node-incoming-address=127.0.0.1:$port \
    --wsrep-provider-options='gmcast.listen_addr=tcp://127.0.0.1:$group;ist.recv_addr=127.0.0.1:$ist;gcache.size=32M;$evs' \
    --wsrep-sst-receive-address=127.0.0.1:$sst --wsrep-cluster-address='$CORVANE_GALERA_GCOMM' $*" \
    </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 1200); do
    [ "$(mariadb --no-defaults --socket="$d/sock" -uroot -N -e "SHOW STATUS LIKE 'wsrep_local_state'" 2>/dev/null \
      | awk '{print $2}')" = 4 ] && return 0
    sleep 0.1
  done
  echo "Galera node $n did not become synced:" >&2
  tail -30 "$d/error.log" >&2
  return 1
}

case "$cmd" in
stop) stop_all; exit 0 ;;
node)
  # shellcheck disable=SC1090
  . "$envfile"
  if [ "$4" = stop ]; then stop_node "$CORVANE_GALERA_DIR/n$3"; else start_node "$3"; fi
  exit 0
  ;;
start) stop_all ;;
*) echo "usage: $0 start|stop ENVFILE | node ENVFILE N start|stop" >&2; exit 2 ;;
esac

[ -n "$provider" ] || { echo "missing galera-4: run scripts/install-deps.sh" >&2; exit 1; }
command -v rsync >/dev/null || { echo "missing rsync: run scripts/install-deps.sh" >&2; exit 1; }

CORVANE_GALERA_DIR=$(mktemp -d "${TMPDIR:-/tmp}/corvane-galera.XXXXXX")
chmod 755 "$CORVANE_GALERA_DIR"
gcomm="gcomm://"
for n in 1 2 3; do
  eval "CORVANE_GALERA_PORT$n=$(free_port)"
  # The group port and the two after it (IST, SST); checked free together.
  while :; do
    g=$(free_port)
    python3 -c "import socket,sys
for p in ($g+1,$g+2):
  s=socket.socket(); s.bind(('127.0.0.1',p)); s.close()" 2>/dev/null && break
  done
  eval "CORVANE_GALERA_GROUP$n=$g"
  gcomm="${gcomm}127.0.0.1:$g,"
  mkdir -p "$CORVANE_GALERA_DIR/n$n/data"
done
CORVANE_GALERA_GCOMM=${gcomm%,}
chown -R mysql:mysql "$CORVANE_GALERA_DIR" 2>/dev/null || true

asmysql mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
  --datadir="$CORVANE_GALERA_DIR/n1/data" --user=mysql >"$CORVANE_GALERA_DIR/install.log" 2>&1 \
  || { cat "$CORVANE_GALERA_DIR/install.log" >&2; exit 1; }
start_node 1 --wsrep-new-cluster
mariadb --no-defaults --socket="$CORVANE_GALERA_DIR/n1/sock" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User='';
FLUSH PRIVILEGES;
CREATE USER 'corvane'@'%' IDENTIFIED BY 'test-pass';
CREATE USER 'corvane'@'localhost' IDENTIFIED BY 'test-pass';
GRANT ALL PRIVILEGES ON *.* TO 'corvane'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'corvane'@'localhost' WITH GRANT OPTION;
SQL
# Joiners get the first node's data by rsync; one at a time.
start_node 2
start_node 3

parent=$PPID
setsid bash -c '
  while kill -0 '"$parent"' 2>/dev/null; do sleep 1; done
  for n in 1 2 3; do pid=$(cat "'"$CORVANE_GALERA_DIR"'/n$n/pid" 2>/dev/null) && kill "$pid" 2>/dev/null; done
  sleep 10; rm -rf "'"$CORVANE_GALERA_DIR"'"
' </dev/null >/dev/null 2>&1 &

cat >"$envfile" <<ENV
CORVANE_GALERA_DIR=$CORVANE_GALERA_DIR
CORVANE_GALERA_GCOMM=$CORVANE_GALERA_GCOMM
CORVANE_GALERA_PORT1=$CORVANE_GALERA_PORT1
CORVANE_GALERA_PORT2=$CORVANE_GALERA_PORT2
CORVANE_GALERA_PORT3=$CORVANE_GALERA_PORT3
CORVANE_GALERA_GROUP1=$CORVANE_GALERA_GROUP1
CORVANE_GALERA_GROUP2=$CORVANE_GALERA_GROUP2
CORVANE_GALERA_GROUP3=$CORVANE_GALERA_GROUP3
CORVANE_GALERA_WATCHDOG=$!
ENV
echo "Galera cluster for the tests on 127.0.0.1:$CORVANE_GALERA_PORT1,$CORVANE_GALERA_PORT2,$CORVANE_GALERA_PORT3"
