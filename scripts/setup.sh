#!/bin/sh
# Installs every Debian package the build, the demo and the tests need.
# Safe to run again; does nothing when everything is already there.
set -eu
pkgs="cmake g++ make pkg-config libgtest-dev
  qt6-base-dev libgl1-mesa-dev libcurl4-openssl-dev ca-certificates
  xvfb xauth x11-utils xdotool imagemagick
  nginx-light python3 locales file openssl
  fonts-crosextra-carlito fonts-liberation
  mingw-w64 wine wine64"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
# The Italian locale, for the decimal separator the agent shows.
if ! locale -a 2>/dev/null | grep -qi '^it_IT.utf8$'; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO sed -i 's/^# *\(it_IT.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^it_IT.UTF-8 UTF-8' /etc/locale.gen || echo 'it_IT.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
