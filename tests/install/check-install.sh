#!/usr/bin/env bash
# check-install.sh BUILD VERSION: installs BUILD into a scratch DESTDIR and
# checks what a desktop user gets: every file in its place, a menu entry and
# AppStream data that validate, --version and --help without a display, a
# print program without the database client library, and an editor that
# takes its cursor and skin from the installed data folder.
set -euo pipefail
build=$1 version=$2
prefix=/usr/local
root=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root/dest cmake --install "$build" --prefix "$prefix" >/dev/null
d=$root/dest$prefix
id=com.quillmark.CorvaneEditor
for f in bin/corvane-editor bin/corvane-print share/corvane-editor/HAND-M.CUR \
         share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
         share/metainfo/$id.metainfo.xml share/man/man1/corvane-editor.1.gz share/man/man1/corvane-print.1.gz; do
  [ -s "$d/$f" ] || fail "not installed: $prefix/$f"
done
[ -x "$d/bin/corvane-editor" ] && [ -x "$d/bin/corvane-print" ] || fail "programs are not executable"

desktop-file-validate "$d/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$d/share/metainfo/$id.metainfo.xml" >"$root/as.log" 2>&1 \
  || { cat "$root/as.log" >&2; fail "appstreamcli validate"; }
grep -q "<release version=\"$version\"" "$d/share/metainfo/$id.metainfo.xml" || fail "metainfo release is not $version"
gzip -dc "$d/share/man/man1/corvane-editor.1.gz" | grep -q '^\.TH CORVANE-EDITOR 1' || fail "man page"

# --version and --help answer with no display at all, and headless.
for platform in "" offscreen; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=$platform "$d/bin/corvane-editor" --version) \
    || fail "corvane-editor --version (QT_QPA_PLATFORM=$platform) ended with $?"
  [ "$out" = "corvane-editor $version" ] || fail "corvane-editor --version printed '$out'"
done
out=$(env -u DISPLAY QT_QPA_PLATFORM= "$d/bin/corvane-editor" --help) || fail "corvane-editor --help"
grep -q -- '--version' <<<"$out" || fail "--help does not list --version"
out=$("$d/bin/corvane-print" --version) || fail "corvane-print --version"
[ "$out" = "corvane-print $version" ] || fail "corvane-print --version printed '$out'"
# The print program needs no database client library.
! ldd "$d/bin/corvane-print" | grep -i mariadb || fail "corvane-print links MariaDB Connector/C"

# Started plainly, with no settings (so it signs in nowhere) and no printing
# system, it stops at the printer set-up message; by then it has looked up
# its cursor and skin. A skin is put in the data folder to see it found.
mkdir -p "$d/share/corvane-editor/x" "$root/config" "$root/tmp"
echo 'QLabel { color: navy; }' >"$d/share/corvane-editor/x/o.cjs"
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$root/config TMPDIR=$root/tmp CUPS_SERVER=$root/no-cups.sock \
  LPDEST= PRINTER= QT_LOGGING_RULES='corvane.files.debug=true' \
  "$d/bin/corvane-editor" 2>"$root/start.log" &
pid=$!
want_cur="HAND-M.CUR: using $d/share/corvane-editor/HAND-M.CUR"
want_skin="x/o.cjs: using $d/share/corvane-editor/x/o.cjs"
for _ in $(seq 300); do
  grep -qF "$want_cur" "$root/start.log" && grep -qF "$want_skin" "$root/start.log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null || { cat "$root/start.log" >&2; fail "the editor ended by itself"; }
kill "$pid"; wait "$pid" 2>/dev/null || true
grep -qF "$want_cur" "$root/start.log" || { cat "$root/start.log" >&2; fail "cursor not taken from the data folder"; }
grep -qF "$want_skin" "$root/start.log" || { cat "$root/start.log" >&2; fail "skin not taken from the data folder"; }
[ -f "$root/config/Quillmark.ini" ] || fail "no settings file in the given settings folder"
echo "install checks passed"
