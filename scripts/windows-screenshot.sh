#!/bin/sh
# Captures the Windows agent's window, as Wine draws it on a private Xvfb,
# with a demo update list loaded (the state before the user starts a run).
# Usage: scripts/windows-screenshot.sh OUT.png [BUILD_ROOT]
# The shipped 32-bit program is used, or the 64-bit build of the same sources
# where the kernel cannot run the 32-bit Wine (scripts/wine-choice.sh); the
# layout is the same.
set -eu
out=${1:?usage: windows-screenshot.sh OUT.png [BUILD_ROOT]}
case $out in /*) ;; *) out="$PWD/$out" ;; esac
repo=$(cd "$(dirname "$0")/.." && pwd)
root=${2:-$repo/build}
. "$repo/scripts/wine-choice.sh"
exe="$winbuild/bin/OVLiveUpdate.exe"
if [ ! -f "$exe" ]; then
  sh "$repo/scripts/windows-build.sh" "$root" >/dev/null
fi
[ -f "$exe" ] || { echo "windows-screenshot: no $exe" >&2; exit 1; }
for tool in "$wine_cmd" wineboot wineserver xvfb-run xdotool import timeout; do
  command -v "$tool" >/dev/null || { echo "windows-screenshot: $tool is not installed" >&2; exit 1; }
done

prefix=$(mktemp -d /tmp/ovlu-wine-shot.XXXXXX)
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT INT TERM
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export OVLU_REPO="$repo" OVLU_EXE="$exe" OVLU_OUT="$out" OVLU_INSTANCE_NAME="shot-$$" wine_cmd

xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh -c '
  set -e
  timeout 240 wineboot -i >/dev/null 2>&1 || { echo "windows-screenshot: wineboot failed" >&2; exit 1; }
  timeout 60 $wine_cmd reg import "$OVLU_REPO/tests/windows/wine-settings.reg" >/dev/null 2>&1
  # The caption buttons are glyphs of Marlett (Debian package fonts-wine).
  for f in /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$f" ] && cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  data="$WINEPREFIX/drive_c/users/Public/Documents/Tessaro Software/OrVento 7"
  app="$WINEPREFIX/drive_c/OrVento 7"
  mkdir -p "$data" "$app"
  cp "$OVLU_EXE" "$app/OVLiveUpdate.exe"
  h=http://updates.example.invalid/orvento7
  printf "%s\r\n" \
    "<v-R><s-$h/OrVento.exe><APPPATH-\\OrVento.exe>" \
    "<v-S><s-$h/Motore.dll><SYSPATH-\\Motore.dll>" \
    "<v-S><s-$h/Griglia.ocx><S32PATH-\\Griglia.ocx>" \
    "<v-N><s-$h/Tabelle.dat><ARCPATH-\\Tabelle.dat>" \
    "<v-N><s-$h/Leggimi.txt><APPPATH-\\Leggimi.txt>" >"$data/Updates.upd"
  cd "$app"
  $wine_cmd "C:\\OrVento 7\\OVLiveUpdate.exe" >/dev/null 2>&1 &
  agent=$!
  id=""
  for i in $(seq 60); do
    id=$(xdotool search --name "^ OV Live Update\$" 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.25
  done
  [ -n "$id" ] || { echo "windows-screenshot: the window did not appear" >&2; kill $agent; exit 1; }
  sleep 1.5  # let it paint
  import -window "$id" "$OVLU_OUT"
  kill $agent 2>/dev/null || true
'
echo "windows-screenshot: $out"
