#!/usr/bin/env bash
# Starts or stops the private MariaDB server the tests use.
#   db-fixture.sh start ENVFILE   - new server in a temporary folder on a free
#                                   loopback port; writes its details to ENVFILE
#   db-fixture.sh stop ENVFILE    - stops it and removes its folder
#   db-fixture.sh start ENVFILE --tls
#                                 - the same, with a certificate made now by a
#                                   CA of its own, and plain connections refused
#                                   (require_secure_transport); ENVFILE also
#                                   names that CA and an unrelated one
# The server also stops by itself when the ctest run that started it ends,
# however it ends (a failed test, Ctrl-C).
set -euo pipefail
cmd=$1
envfile=$2
tls=${3:-}

stop_server() {
  [ -f "$envfile" ] || return 0
  # shellcheck disable=SC1090
  . "$envfile"
  if [ -n "${CORVANE_DB_WATCHDOG:-}" ]; then kill "$CORVANE_DB_WATCHDOG" 2>/dev/null || true; fi
  if [ -f "$CORVANE_DB_DIR/pid" ]; then
    pid=$(cat "$CORVANE_DB_DIR/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$CORVANE_DB_DIR"
  rm -f "$envfile"
}

case "$cmd" in
stop)
  stop_server
  exit 0
  ;;
start)
  stop_server
  ;;
*)
  echo "usage: $0 start|stop ENVFILE" >&2
  exit 2
  ;;
esac

for tool in mariadb-install-db mariadbd mariadb-admin mariadb; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
PATH=$PATH:/usr/sbin

dir=$(mktemp -d "${TMPDIR:-/tmp}/corvane-test-db.XXXXXX")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
asroot=()
[ "$(id -u)" -eq 0 ] && asroot=(--user=root)

# Certificates: a CA, the server's certificate signed by it for the name
# "localhost" only (so a check of the address 127.0.0.1 fails), and a second
# CA that signed nothing.
tlsargs=()
if [ "$tls" = "--tls" ]; then
  command -v openssl >/dev/null || { echo "missing openssl: run scripts/install-deps.sh" >&2; exit 1; }
  mkdir -p "$dir/tls"
  (
    cd "$dir/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Corvane Test CA" \
      -keyout ca-key.pem -out ca.pem
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Corvane Other CA" \
      -keyout other-key.pem -out other-ca.pem
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server-key.pem -out server.csr
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 \
      -extfile server.ext -out server.pem
  ) >"$dir/openssl.log" 2>&1 || { cat "$dir/openssl.log" >&2; rm -rf "$dir"; exit 1; }
  tlsargs=(--ssl-ca="$dir/tls/ca.pem" --ssl-cert="$dir/tls/server.pem" --ssl-key="$dir/tls/server-key.pem"
           --require-secure-transport=ON)
fi

mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
  --datadir="$dir/data" "${asroot[@]}" >"$dir/install.log" 2>&1 \
  || { cat "$dir/install.log" >&2; rm -rf "$dir"; exit 1; }

setsid mariadbd --no-defaults --datadir="$dir/data" --socket="$dir/sock" --port="$port" \
  --bind-address=127.0.0.1 --pid-file="$dir/pid" --log-error="$dir/error.log" \
  --innodb-buffer-pool-size=256M --innodb-flush-log-at-trx-commit=2 --sql-mode=STRICT_TRANS_TABLES,NO_ENGINE_SUBSTITUTION \
  "${asroot[@]}" "${tlsargs[@]}" </dev/null >/dev/null 2>&1 &

# Up to 90 s: on a busy machine InnoDB's start alone can take half a minute.
for _ in $(seq 1 900); do
  mariadb-admin --no-defaults --socket="$dir/sock" -uroot ping >/dev/null 2>&1 && break
  sleep 0.1
done
mariadb-admin --no-defaults --socket="$dir/sock" -uroot ping >/dev/null 2>&1 \
  || { echo "MariaDB did not start:" >&2; cat "$dir/error.log" >&2; exit 1; }

# The account the tests sign in with, over TCP like a remote user.
# No anonymous accounts: they would match before the test accounts do.
mariadb --no-defaults --socket="$dir/sock" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User='';
FLUSH PRIVILEGES;
CREATE USER 'corvane'@'%' IDENTIFIED BY 'test-pass';
CREATE USER 'corvane'@'localhost' IDENTIFIED BY 'test-pass';
GRANT ALL PRIVILEGES ON *.* TO 'corvane'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'corvane'@'localhost' WITH GRANT OPTION;
SQL

# Watchdog: stop the server when the ctest run that started it has gone.
parent=$PPID
setsid bash -c '
  while kill -0 '"$parent"' 2>/dev/null; do sleep 1; done
  pid=$(cat "'"$dir"'/pid" 2>/dev/null) && kill "$pid" 2>/dev/null
  sleep 3; rm -rf "'"$dir"'"
' </dev/null >/dev/null 2>&1 &
watchdog=$!

cat >"$envfile" <<ENV
CORVANE_DB_DIR=$dir
CORVANE_DB_HOST=127.0.0.1
CORVANE_DB_PORT=$port
CORVANE_DB_SOCKET=$dir/sock
CORVANE_DB_USER=corvane
CORVANE_DB_PASSWORD=test-pass
CORVANE_DB_WATCHDOG=$watchdog
ENV
if [ "$tls" = "--tls" ]; then
  printf 'CORVANE_DB_CA=%s\nCORVANE_DB_OTHER_CA=%s\n' "$dir/tls/ca.pem" "$dir/tls/other-ca.pem" >>"$envfile"
fi
echo "MariaDB for the tests on 127.0.0.1:$port in $dir"
