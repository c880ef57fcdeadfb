#!/usr/bin/env bash
# Starts or stops a private CUPS scheduler for the printing tests.
#   cups-fixture.sh start ENVFILE - cupsd in a temporary folder, listening only
#                                   on a Unix socket there; writes its details
#                                   (or why it was skipped) to ENVFILE
#   cups-fixture.sh stop ENVFILE  - stops it and removes what start made
# The system's cupsd and its queues are never touched. Two queues: one that
# prints nowhere ("Previous Printer") and, when cups-pdf is installed and this
# runs as root, a cups-pdf queue described "Quillmark PDF Writer" whose PDFs
# land in the private folder. cups-pdf reads its settings only from
# /etc/cups/cups-pdf-QUEUE.conf and its backend runs as root, so the queue
# gets a name of its own and that file is removed again at stop.
set -euo pipefail
cmd=$1
envfile=$2
PATH=$PATH:/usr/sbin
trap 'echo "cups-fixture: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

stop_cups() {
  [ -f "$envfile" ] || return 0
  # shellcheck disable=SC1090
  . "$envfile"
  if [ -n "${CORVANE_CUPS_WATCHDOG:-}" ]; then kill "$CORVANE_CUPS_WATCHDOG" 2>/dev/null || true; fi
  if [ -n "${CORVANE_CUPS_PID:-}" ]; then
    kill "$CORVANE_CUPS_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$CORVANE_CUPS_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$CORVANE_CUPS_PID" 2>/dev/null || true
  fi
  [ -n "${CORVANE_CUPS_PDF_CONF:-}" ] && rm -f "$CORVANE_CUPS_PDF_CONF"
  [ -n "${CORVANE_CUPS_DIR:-}" ] && rm -rf "$CORVANE_CUPS_DIR"
  rm -f "$envfile"
}

skip() {
  echo "CORVANE_CUPS_SKIP='$1'" >"$envfile"
  echo "printing tests skipped: $1"
  exit 0
}

case "$cmd" in
stop) stop_cups; exit 0 ;;
start) stop_cups ;;
*) echo "usage: $0 start|stop ENVFILE" >&2; exit 2 ;;
esac

if ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null || ! command -v lpstat >/dev/null; then
  skip "CUPS is not installed (scripts/install-deps.sh installs it)"
fi

dir=$(mktemp -d /tmp/corvane-cups.XXXXXX)
# Filters run as lp and must reach the spool.
chmod 755 "$dir"
mkdir -p "$dir"/{spool,cache,state,log,temp,ppd,out,pdf-spool,pdf-log,home}
chmod 1777 "$dir/temp"
cat >"$dir/cupsd.conf" <<CONF
LogLevel warn
Listen $dir/socket
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
{
  echo "ServerRoot $dir"
  echo "RequestRoot $dir/spool"
  echo "CacheDir $dir/cache"
  echo "StateDir $dir/state"
  echo "TempDir $dir/temp"
  echo "AccessLog $dir/log/access_log"
  echo "ErrorLog $dir/log/error_log"
  echo "PageLog $dir/log/page_log"
  if [ "$(id -u)" -eq 0 ]; then echo "User lp"; echo "Group lp"; echo "SystemGroup root"; fi
} >"$dir/cups-files.conf"

setsid cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >"$dir/log/cupsd.out" 2>&1 &
pid=$!
{
  echo "CORVANE_CUPS_DIR='$dir'"
  echo "CORVANE_CUPS_PID=$pid"
  echo "CORVANE_CUPS_SERVER='$dir/socket'"
} >"$envfile"
export CUPS_SERVER=$dir/socket
# lpstat -r ends with 0 either way; only its words tell.
running() { lpstat -r 2>/dev/null | grep -q 'is running'; }
for _ in $(seq 1 100); do running && break; sleep 0.1; done
running || { cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null; stop_cups; skip "the private cupsd did not start"; }

lpadmin -p Corvane_Previous -E -v file:///dev/null -D "Previous Printer" 2>/dev/null
lpadmin -p Corvane_Third -E -v file:///dev/null -D "Third Printer" 2>/dev/null

queue=corvane_test_pdf_$$
if [ ! -x /usr/lib/cups/backend/cups-pdf ]; then
  echo "CORVANE_CUPS_PDF_SKIP='cups-pdf is not installed (printer-driver-cups-pdf)'" >>"$envfile"
elif [ "$(id -u)" -ne 0 ] || [ ! -w /etc/cups ]; then
  echo "CORVANE_CUPS_PDF_SKIP='cups-pdf reads /etc/cups/cups-pdf-QUEUE.conf and runs as root: run the tests as root'" >>"$envfile"
else
  conf=/etc/cups/cups-pdf-$queue.conf
  cat >"$conf" <<CONF
Out $dir/out
AnonDirName $dir/out
Spool $dir/pdf-spool
Log $dir/pdf-log
UserUMask 0022
CONF
  echo "CORVANE_CUPS_PDF_CONF='$conf'" >>"$envfile"
  lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd \
    -D "Quillmark PDF Writer" -o pdftops-renderer-default=pdftocairo 2>/dev/null
  echo "CORVANE_CUPS_PDF_QUEUE='$queue'" >>"$envfile"
  echo "CORVANE_CUPS_PDF_OUT='$dir/out'" >>"$envfile"
fi

# Watchdog: stop everything when the ctest run that started it has gone.
parent=$PPID
setsid bash -c '
  while kill -0 '"$parent"' 2>/dev/null; do sleep 1; done
  kill '"$pid"' 2>/dev/null
  rm -f /etc/cups/cups-pdf-'"$queue"'.conf
  sleep 2; rm -rf "'"$dir"'"' </dev/null >/dev/null 2>&1 &
echo "CORVANE_CUPS_WATCHDOG=$!" >>"$envfile"
