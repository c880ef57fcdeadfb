#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the editor
# need, skipping those already present. Uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  # WebP (and other) images in the value panel, at run time
  qt6-image-formats-plugins
  libmariadb-dev libxlsxwriter-dev libzip-dev libcups2-dev libicu-dev
  # database server and client for the demo and the tests
  mariadb-server mariadb-client
  # fonts: Arial's metric twin, and a fixed-pitch face for printing
  fonts-liberation fonts-dejavu-core
  # printing: CUPS and the PDF queue
  cups cups-client cups-bsd printer-driver-cups-pdf poppler-utils
  # the desktop's default programs, and reading workbooks back in tests
  xdg-utils libglib2.0-bin python3 python3-openpyxl
  # checking the menu entry and AppStream data; the Debian package (CPack)
  desktop-file-utils appstream dpkg-dev file
  # certificates for the TLS test server, and clang's libFuzzer for fuzz/
  openssl clang libclang-rt-14-dev
  # connections through SSH: the user's ssh, and a private sshd for the tests
  openssh-client openssh-server
  # a three-node Galera cluster for the tests, joined by rsync state transfer
  galera-4 rsync
)
if [ "${1:-}" = "--docs" ]; then
  # screenshots for the README
  packages+=(xvfb xauth imagemagick fonts-wqy-microhei)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
