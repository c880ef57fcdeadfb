#!/usr/bin/env bash
# Sets up the "Quillmark PDF Writer" printer that the editor's PDF export
# prints to: installs CUPS and cups-pdf, starts the CUPS scheduler when no
# service manager runs it, and adds the queue Quillmark_PDF_Writer (described
# "Quillmark PDF Writer") that writes each job as a PDF file into a folder.
#
#   scripts/setup-pdf-printer.sh [--output DIR]   set up (default DIR: ~/PDF)
#   scripts/setup-pdf-printer.sh --uninstall      remove the queue again
#
# Uses sudo for what needs root. With CUPS_SERVER set, the queue goes to that
# scheduler and none is started.
set -euo pipefail

QUEUE=Quillmark_PDF_Writer
DESCRIPTION="Quillmark PDF Writer"
CONF=/etc/cups/cups-pdf-$QUEUE.conf
PPD=lsb/usr/cups-pdf/CUPS-PDF_opt.ppd
PATH=$PATH:/usr/sbin

usage() { sed -n '2,13s/^# \{0,1\}//p' "$0"; }

action=install
output=""
while [ $# -gt 0 ]; do
  case "$1" in
  --output) [ $# -ge 2 ] || { usage >&2; exit 2; }; output=$2; shift 2 ;;
  --output=*) output=${1#--output=}; shift ;;
  --uninstall) action=uninstall; shift ;;
  -h | --help) usage; exit 0 ;;
  *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# PDFs belong to the person who asked for them, also under sudo.
user=${SUDO_USER:-$(id -un)}
home=$(getent passwd "$user" | cut -d: -f6)
as_user() { if [ "$(id -un)" = "$user" ]; then "$@"; else $SUDO -u "$user" "$@"; fi; }

# lpstat -r ends with 0 either way; only its words tell.
scheduler_running() { lpstat -r 2>/dev/null | grep -q 'is running'; }

# cups-pdf confined by AppArmor may read only /etc/cups/cups-pdf.conf and
# write only below home folders.
apparmor_confines_cups_pdf() {
  [ -r /sys/kernel/security/apparmor/profiles ] \
    && grep -q '^/usr/lib/cups/backend/cups-pdf (enforce)' /sys/kernel/security/apparmor/profiles
}

install_packages() {
  local missing=()
  for p in cups cups-client printer-driver-cups-pdf; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

start_scheduler() {
  scheduler_running && return 0
  if [ -n "${CUPS_SERVER:-}" ]; then
    echo "The CUPS scheduler at CUPS_SERVER=$CUPS_SERVER does not answer." >&2
    exit 1
  fi
  if [ -d /run/systemd/system ]; then
    $SUDO systemctl enable --now cups.service
  else
    echo "Starting cupsd (no service manager runs it here; start it again after a reboot)."
    $SUDO cupsd
  fi
  for _ in $(seq 1 50); do scheduler_running && return 0; sleep 0.2; done
  echo "The CUPS scheduler did not start; see /var/log/cups/error_log." >&2
  exit 1
}

# The Out line of cups-pdf: a folder in the home becomes ${HOME}/..., so every
# user who prints gets their own.
out_setting() {
  # shellcheck disable=SC2016 # cups-pdf expands ${HOME} itself
  case "$1" in
  "$home") echo '${HOME}' ;;
  "$home"/*) echo '${HOME}'"${1#"$home"}" ;;
  *) echo "$1" ;;
  esac
}

install_queue() {
  output=${output:-$home/PDF}
  case "$output" in /*) ;; *) output=$PWD/$output ;; esac
  install_packages
  start_scheduler
  as_user mkdir -p "$output"

  local uri
  if apparmor_confines_cups_pdf; then
    # The queue then shares cups-pdf's own settings file, whose Out is
    # ${HOME}/PDF unless changed there.
    uri=cups-pdf:/
    output="$(sed -n 's/^Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf | tail -n1)"
    echo "AppArmor confines cups-pdf: the queue uses /etc/cups/cups-pdf.conf (Out ${output:-\${HOME\}/PDF})."
  else
    uri=cups-pdf:/$QUEUE
    $SUDO tee "$CONF" >/dev/null <<CONF
# Settings of the $QUEUE queue (scripts/setup-pdf-printer.sh).
Out $(out_setting "$output")
UserUMask 0077
CONF
  fi
  # The pdftocairo renderer keeps the text of the PDF searchable.
  $SUDO lpadmin -p "$QUEUE" -E -v "$uri" -m "$PPD" -D "$DESCRIPTION" \
    -o pdftops-renderer-default=pdftocairo 2> >(grep -v 'deprecated' >&2)
  lpstat -v "$QUEUE" >/dev/null
  echo "Printer \"$DESCRIPTION\" (queue $QUEUE) is ready."
  echo "PDFs land in $output, named after the table with -job_<number>.pdf at the end."
}

uninstall_queue() {
  if scheduler_running && lpstat -v "$QUEUE" >/dev/null 2>&1; then
    $SUDO lpadmin -x "$QUEUE"
    echo "Removed the printer \"$DESCRIPTION\"."
  else
    echo "The printer \"$DESCRIPTION\" is not installed."
  fi
  $SUDO rm -f "$CONF"
  # A personal default or options naming the queue would point nowhere now.
  as_user lpoptions -x "$QUEUE" >/dev/null 2>&1 || true
  echo "CUPS and cups-pdf stay installed; remove them with: sudo apt-get remove printer-driver-cups-pdf cups"
}

case "$action" in
install) install_queue ;;
uninstall) uninstall_queue ;;
esac
