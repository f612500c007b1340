#!/bin/sh
# Rebuilds the artwork in this folder from assets/src/drawart.cpp.
# Needs a C++ compiler, pkg-config and Qt 6 (qt6-base-dev); runs without a display.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2046  # pkg-config prints several flags on purpose
c++ -std=c++17 -O1 -fPIC -o "$work/drawart" "$here/src/drawart.cpp" \
  $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$work/drawart" "$here"
ls -l "$here"/banner.jpg "$here"/check16.png "$here"/AAA_*.png "$here"/AAA.ico "$here"/icon1.ico
