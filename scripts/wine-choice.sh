# Sourced by the Windows scripts (needs repo and root): picks the build that
# Wine can run here and the Wine loader for it.
#   bits      32 for the shipped 32-bit program, 64 for the stand-in
#   winbuild  its build folder (BUILD_ROOT/win32 or BUILD_ROOT/win64)
#   wine_cmd  the loader
# A kernel that does not run 32-bit programs (scripts/i386-probe.sh) cannot
# start the 32-bit Wine at all; there the same sources are built for 64-bit
# Windows (OVLU_WIN64=1 makes scripts/windows-build.sh build them) and run
# under the 64-bit loader itself, since "wine" may name the 32-bit one.
if sh "$repo/scripts/i386-probe.sh" && [ -x /usr/lib/wine/wine ]; then
  bits=32
  winbuild=${OVLU_WIN32_BUILD:-$root/win32}
  wine_cmd=wine
else
  bits=64
  winbuild=${OVLU_WIN64_BUILD:-$root/win64}
  OVLU_WIN64=1
  export OVLU_WIN64
  wine_cmd=wine64
  if [ -x /usr/lib/wine/wine64 ]; then wine_cmd=/usr/lib/wine/wine64; fi
fi
