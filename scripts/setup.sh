#!/bin/sh
# Installs every Debian package the build, the demo, the tests and the
# release packages (scripts/package.sh) need,
# the 32-bit Wine included (the shipped program is a 32-bit one) wherever
# the kernel runs 32-bit programs (scripts/i386-probe.sh). Where it does not,
# the 32-bit Wine cannot start and would only hide the 64-bit one behind
# the "wine" command, so it is left out.
# Safe to run again; does nothing when everything is already there.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
pkgs="cmake g++ make pkg-config libgtest-dev
  qt6-base-dev qt6-translations-l10n libgl1-mesa-dev libcurl4-openssl-dev ca-certificates libssl-dev
  nlohmann-json3-dev
  xvfb xauth x11-utils xdotool imagemagick
  nginx-light curl python3 locales file openssl
  fonts-crosextra-carlito fonts-liberation
  mingw-w64 wine wine64
  dpkg-dev lintian zip"
if sh "$here/i386-probe.sh"; then
  pkgs="$pkgs wine32:i386"
  # wine32 comes from the i386 architecture, which a fresh machine lacks.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    # Forces a fresh package index below: the old one has no i386 packages.
    refresh=1
  fi
fi
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ] || [ "${refresh:-0}" = 1 ]; then
  $SUDO apt-get update
fi
if [ -n "$missing" ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
# The Italian locale, for the decimal separator the agent shows.
if ! locale -a 2>/dev/null | grep -qi '^it_IT.utf8$'; then
  $SUDO sed -i 's/^# *\(it_IT.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^it_IT.UTF-8 UTF-8' /etc/locale.gen || echo 'it_IT.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
