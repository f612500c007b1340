#!/bin/sh
# Builds the release packages into build/dist:
#   ovliveupdate_VERSION_amd64.deb   the Linux agent and ovlu-list (Release
#                                    build with Debian's hardening flags,
#                                    stripped; CPack, dependencies from
#                                    dpkg-shlibdeps), checked with lintian
#   OVLiveUpdate-VERSION-win32.zip   the shipped 32-bit Windows program
#                                    (scripts/windows-build.sh) with its README
#                                    and the documents for list authors
#   SHA256SUMS                       for both
# VERSION is the one in project(... VERSION ...) of CMakeLists.txt.
# Usage: scripts/package.sh   (OVLU_JOBS sets the parallel jobs, default 2)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=${OVLU_JOBS:-2}
rel=$repo/build/pkg
dist=$repo/build/dist
sh "$repo/scripts/setup.sh"

launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
# Debian's own compiler and linker flags for packages, hardening included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# shellcheck disable=SC2086
cmake -S "$repo" -B "$rel" -DCMAKE_BUILD_TYPE=Release -DOVLU_TESTS=OFF -DOVLU_SANITIZE=OFF \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  $launcher
cmake --build "$rel" -j "$jobs"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$rel/CPackConfig.cmake")
[ -n "$version" ] || { echo "package: no version in $rel/CPackConfig.cmake" >&2; exit 1; }

rm -rf "$dist"
mkdir -p "$dist"
(cd "$rel" && cpack -G DEB -B "$rel/cpack")
deb=ovliveupdate_${version}_amd64.deb
mv "$rel/cpack/$deb" "$dist/$deb"

sh "$repo/scripts/windows-build.sh" "$repo/build"
exe=$repo/build/win32/bin/OVLiveUpdate.exe
# The version block reads the same version, its texts as major.minor with
# two digits ("7.00" for 7.0.x).
short=$(echo "$version" | awk -F. '{ printf "%d.%02d", $1, $2 }')
for key in FileVersion ProductVersion; do
  strings -el "$exe" | grep -A1 -x "$key" | tail -1 | grep -qx "$short" ||
    { echo "package: $exe has no $key \"$short\"" >&2; exit 1; }
done
# The numbers of the block: major, minor, patch, 0.
python3 - "$exe" "$version" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit(f"package: {sys.argv[1]} has no version block")
ms, ls, pms, pls = struct.unpack_from("<4I", data, at + 8)
want = [int(n) for n in sys.argv[2].split(".")] + [0]
got = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
pgot = [pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF]
if got != want or pgot != want:
    sys.exit(f"package: {sys.argv[1]} carries version {got}/{pgot}, not {want}")
PY
zipname=OVLiveUpdate-$version-win32
stage=$rel/zip/$zipname
rm -rf "$rel/zip"
mkdir -p "$stage"
cp "$exe" "$stage/"
# Windows line ends for the texts a Windows user opens.
sed "s/@PROJECT_VERSION@/$version/; s/\$/\r/" "$repo/packaging/README-win32.txt" >"$stage/README.txt"
for doc in list-authors.md signing.md run-log.md; do
  [ ! -f "$repo/docs/$doc" ] || sed 's/$/\r/' "$repo/docs/$doc" >"$stage/$doc"
done
# The same bytes from the same files: fixed times, no extra fields.
touch -d "@$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)" "$stage" "$stage"/*
(cd "$rel/zip" && zip -q -X -r "$dist/$zipname.zip" "$zipname")

(cd "$dist" && sha256sum "$deb" "$zipname.zip" >SHA256SUMS)

echo "package: lintian on $deb"
lintian --fail-on error --info "$dist/$deb" || { echo "package: lintian found errors" >&2; exit 1; }
echo "package: ready in $dist:"
(cd "$dist" && ls -l && dpkg-deb -f "$deb" Package Version Depends Installed-Size)
