#!/usr/bin/env bash
# The throwaway MariaDB server of the demo: Debian's mariadbd with its data in
# a per-user folder, listening on 127.0.0.1 only.
#   demo-server.sh start   start it (or find it running), load the sample
#                          database the first time; prints the port
#   demo-server.sh stop    stop it (the data stay for the next start)
#   demo-server.sh remove  stop it and delete its data
set -euo pipefail
PATH=$PATH:/usr/sbin
here=$(cd "$(dirname "$0")" && pwd)
home=${CORVANE_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/corvane-demo}
data=$home/data
sock=$home/mysqld.sock
pidfile=$home/mysqld.pid
demo_user=demo
demo_password=demo-password
demo_database=corvane_demo

running() {
  [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null
}

stop() {
  if running; then
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    echo "Stopped the demo server (data kept in $data)."
  else
    echo "The demo server is not running."
  fi
}

case "${1:-start}" in
stop) stop; exit 0 ;;
remove) stop; rm -rf "$home"; echo "Removed $home."; exit 0 ;;
start) ;;
*) echo "usage: $0 start|stop|remove" >&2; exit 2 ;;
esac

mkdir -p "$home"
chmod 700 "$home"
asroot=()
[ "$(id -u)" -eq 0 ] && asroot=(--user=root)
fresh=0
if [ ! -d "$data/mysql" ]; then
  mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
    --datadir="$data" "${asroot[@]}" >"$home/install.log" 2>&1
  fresh=1
fi
if [ ! -f "$home/port" ]; then
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()' >"$home/port"
fi
port=$(cat "$home/port")

if ! running; then
  setsid mariadbd --no-defaults --datadir="$data" --socket="$sock" --port="$port" \
    --bind-address=127.0.0.1 --pid-file="$pidfile" --log-error="$home/error.log" \
    "${asroot[@]}" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1 \
    || { echo "The demo server did not start; see $home/error.log" >&2; exit 1; }
fi

if [ "$fresh" = 1 ] || ! mariadb --no-defaults --socket="$sock" -uroot -e "USE $demo_database" 2>/dev/null; then
  mariadb --no-defaults --socket="$sock" -uroot <<SQL
DELETE FROM mysql.global_priv WHERE User='';
FLUSH PRIVILEGES;
CREATE DATABASE IF NOT EXISTS $demo_database CHARACTER SET utf8mb4;
CREATE USER IF NOT EXISTS '$demo_user'@'%' IDENTIFIED BY '$demo_password';
CREATE USER IF NOT EXISTS '$demo_user'@'localhost' IDENTIFIED BY '$demo_password';
GRANT ALL PRIVILEGES ON $demo_database.* TO '$demo_user'@'%';
GRANT ALL PRIVILEGES ON $demo_database.* TO '$demo_user'@'localhost';
SQL
  mariadb --no-defaults --socket="$sock" -uroot "$demo_database" <"$here/sample.sql"
  echo "Loaded the sample database $demo_database."
fi

cat >"$home/signin.env" <<ENV
CORVANE_DEMO_SERVER=127.0.0.1
CORVANE_DEMO_PORT=$port
CORVANE_DEMO_USER=$demo_user
CORVANE_DEMO_PASSWORD=$demo_password
CORVANE_DEMO_DATABASE=$demo_database
ENV
echo "Demo server on 127.0.0.1:$port (data in $data)."
